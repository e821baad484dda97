// The platform's component objects, as the decoders and encoders hold them.
#pragma once

// Lets go of an interface, if held, and forgets it.
template <typename T>
void Release(T*& p)
{
    if (p != nullptr)
        p->Release();
    p = nullptr;
}
