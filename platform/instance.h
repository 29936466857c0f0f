#pragma once
// One running instance per program path.
#include <string>

namespace platform {

// Claims the name for this process until it ends. False when another process
// holds it (Windows: a named mutex; POSIX: a lock on a file in the temporary
// folder). A name that cannot be claimed for another reason counts as free.
bool ClaimSingleInstance(const std::string& name);

}  // namespace platform
