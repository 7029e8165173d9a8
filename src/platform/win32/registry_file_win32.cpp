#include "platform/registry_file.h"

RegistryFile registryFileInUse() {
    RegistryFile file;
    file.source = RegistrySource::SystemRegistry;
    file.exists = true;
    return file;
}
