#pragma once
// The store's earlier form on POSIX: a folder per key, a file per value. The
// store imports such a tree once (see registry.cpp); tests build one to import
// and the benchmark measures against it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::folder_registry {

// mkdir -p: creates the folder and its missing parents, each 0700.
bool MakeFolders(const std::string& path);

// True when `store` holds a tree of that form (a root folder such as HKEY_CURRENT_USER).
bool Exists(const std::string& store);
// The root folders of the tree, as they stand in `store`.
std::vector<std::string> RootFolders(const std::string& store);

RegistryStatus Write(const std::string& store, RegistryRoot root, std::string_view key, std::string_view name,
                     std::uint32_t type, std::string_view data);
RegistryStatus CreateKey(const std::string& store, RegistryRoot root, std::string_view key);
RegistryStatus Read(const std::string& store, RegistryRoot root, std::string_view key, std::string_view name,
                    RegistryData* out);

// Every key (with its path as first written, parents first) and every value
// of the tree; damaged value files are reported through `damaged`.
struct Visitor {
  std::function<void(RegistryRoot, const std::string& key)> key;
  std::function<void(RegistryRoot, const std::string& key, const std::string& name, const RegistryData&)> value;
  std::function<void(const std::string& file)> damaged;
};
void Walk(const std::string& store, const Visitor& visit);

}  // namespace platform::folder_registry
