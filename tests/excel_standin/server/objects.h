#pragma once
#include <oaidl.h>

namespace standin {

// The application object, with one reference for the caller.
IDispatch* NewApplicationObject();

}  // namespace standin
