// The platform's imaging factory: the decoding process's decoders of the
// last resort, and the kinds of picture the platform lists.
#pragma once

struct IWICImagingFactory;

// A new imaging factory in this thread's apartment, or null. The component
// library is loaded at the first call: a program that never decodes or
// encodes through the platform (duotint-cli writing BMPs) does not load it,
// nor the window system it brings, as it starts.
IWICImagingFactory* CreateImagingFactory();

// Lets go of an interface, if held, and forgets it.
template <typename T>
void Release(T*& p)
{
    if (p != nullptr)
        p->Release();
    p = nullptr;
}
