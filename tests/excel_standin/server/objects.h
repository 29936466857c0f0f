#pragma once
#include <oaidl.h>

#include <string>

namespace standin {

// The application object, with one reference for the caller.
IDispatch* NewApplicationObject();

// The live objects and server locks; the last release ends the server.
void ServerAddRef();
void ServerRelease();
// The member named by OLVEX_STANDIN_HANG: its calls sleep far past any bound.
void HangIfAsked(const std::string& member);

}  // namespace standin
