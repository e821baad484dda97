#include "decoder/reader.h"

#include <cstdarg>
#include <cstdio>

bool PictureReader::Fail(ReaderFailure failure, const char* format, ...)
{
    failure_ = failure;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message_, sizeof message_, format, arguments);
    va_end(arguments);
    Close();
    return false;
}

void PictureReader::Forget()
{
    Close();
    width_ = height_ = 0;
    hasAlpha_ = translucent_ = false;
    failure_ = ReaderFailure::none;
    message_[0] = '\0';
}
