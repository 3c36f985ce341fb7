#include "registry/product_registry.h"

#include "platform/win.h"
#include "registry/primitives.h"

const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";

// Placeholder until the product-registry removal lands: it finds nothing.
int HasProductRegistry(int, int) { return 0; }
int DeleteProductRegistry(int, int) { return 1; }
int HasProductRegistry64(int) { return 0; }
int DeleteProductRegistry64(int) { return 1; }

int DeleteUninstallRegistry() {
  RegDeleteDepth = 0;
  return DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
}
