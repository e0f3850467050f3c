#include "host/reg_set.h"

#include "actions/registry_ops.h"
#include "host/reg_query.h"
#include "os/reg/registry.h"

namespace pelisto {

int RegSet(RunContext& context, const std::string& key_path, const std::string& value_name,
           const std::string& data, bool number, std::FILE* out, std::FILE* err) {
  os::HKEY root = nullptr;
  std::string subkey;
  if (!os::SplitKeyPath(key_path, &root, &subkey)) {
    std::fprintf(err, "pelisto: reg set: '%s' does not start with a root key\n",
                 key_path.c_str());
    return 2;
  }
  // The full name, so that an abbreviation is not taken for the local machine as a
  // configuration's unknown root name is.
  const std::string root_name = os::RootKeyName(root);
  if (WriteRegistryValue(context, root_name, subkey, value_name, data, number) != 1) {
    std::fprintf(err, "pelisto: reg set: could not write '%s' under %s%s\n", value_name.c_str(),
                 key_path.c_str(),
                 context.Privileged().Brokered() ? " (the elevated broker failed or was refused)" : "");
    return 1;
  }
  return RegQuery(key_path, value_name, out, err);
}

}  // namespace pelisto
