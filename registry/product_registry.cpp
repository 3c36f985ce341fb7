#include "registry/product_registry.h"

#include "probes/probes.h"
#include "platform/win.h"
#include "regops/primitives.h"

namespace {

const char kVendorProductKey[] = "SOFTWARE\\Varlume\\ZTX";
const char kVendorKey[] = "SOFTWARE\\Varlume";
const char kCordaValeProductKey[] = "SOFTWARE\\Corda_Vale\\KOBR_SE";
const char kCordaValeKey[] = "SOFTWARE\\Corda_Vale";
const char kOrvaProductKey[] = "SOFTWARE\\ORVA\\GX_LT";
const char kOrvaKey[] = "SOFTWARE\\ORVA";
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "ztxcfg";
const char kAppletKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\"
    "{305CA226-D286-468e-B848-2B2E8E697B74} 2";

// The product key of an OEM edition; null for the vendor's own edition.
const char* OemProductKey(int edition) {
  if (edition == 1) return kCordaValeProductKey;
  if (edition == 2) return kOrvaProductKey;
  return nullptr;
}

const char* OemVendorKey(int edition) {
  if (edition == 1) return kCordaValeKey;
  if (edition == 2) return kOrvaKey;
  return nullptr;
}

// Windows 98 and Me have no extended-properties registration for applets.
bool HasAppletRegistration(int generation) { return generation != 1 && generation != 2; }

int DeleteKeyTree(const char* subkey) {
  RegDeleteDepth = 0;
  return DeleteRegKeyTree(HKEY_LOCAL_MACHINE, subkey);
}

}  // namespace

int HasProductRegistry(int edition, int generation) {
  const char* oem = OemProductKey(edition);
  if (oem != nullptr && IsRegKeyPresent(HKEY_LOCAL_MACHINE, oem)) return 1;
  if (IsRegKeyPresent(HKEY_LOCAL_MACHINE, kVendorProductKey)) return 1;
  if (IsRegValuePresent(HKEY_LOCAL_MACHINE, kRunKey, kRunValue)) return 1;
  if (!HasAppletRegistration(generation)) return 0;
  char applet[kPathSize];
  BuildAppletPath(applet);
  // Without the system directory there is no value name to look for.
  if (applet[0] == '\0') return 0;
  return IsRegValuePresent(HKEY_LOCAL_MACHINE, kAppletKey, applet);
}

int DeleteProductRegistry(int edition, int generation) {
  int oem_result = 1;
  const char* oem = OemProductKey(edition);
  if (oem != nullptr && IsRegKeyPresent(HKEY_LOCAL_MACHINE, oem)) oem_result = DeleteKeyTree(oem);

  int vendor_result = 1;
  if (IsRegKeyPresent(HKEY_LOCAL_MACHINE, kVendorProductKey))
    vendor_result = DeleteKeyTree(kVendorProductKey);

  int run_result = 1;
  if (IsRegValuePresent(HKEY_LOCAL_MACHINE, kRunKey, kRunValue))
    run_result = DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);

  int applet_result = 1;
  if (HasAppletRegistration(generation)) {
    char applet[kPathSize];
    BuildAppletPath(applet);
    if (applet[0] != '\0' && IsRegValuePresent(HKEY_LOCAL_MACHINE, kAppletKey, applet))
      applet_result = DeleteRegValue(HKEY_LOCAL_MACHINE, kAppletKey, applet);
  }
  if (!(oem_result && vendor_result && run_result && applet_result)) return 0;
  // A test above that could not be made passes for an absent item: look once
  // more, so that an item still there is never reported as removed.
  return HasProductRegistry(edition, generation) ? 0 : 1;
}

int HasProductRegistry64(int edition) {
  const char* oem = OemProductKey(edition);
  if (oem != nullptr && IsRegKeyPresent64(HKEY_LOCAL_MACHINE, oem)) return 1;
  return IsRegKeyPresent64(HKEY_LOCAL_MACHINE, kVendorProductKey);
}

int DeleteProductRegistry64(int edition) {
  int oem_result = 1;
  const char* oem = OemProductKey(edition);
  if (oem != nullptr && IsRegKeyPresent64(HKEY_LOCAL_MACHINE, oem))
    oem_result = PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, OemVendorKey(edition));

  int vendor_result = 1;
  if (IsRegKeyPresent64(HKEY_LOCAL_MACHINE, kVendorProductKey))
    vendor_result = PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, kVendorKey);
  if (!(oem_result && vendor_result)) return 0;
  return HasProductRegistry64(edition) ? 0 : 1;
}

int DeleteUninstallRegistry() {
  RegDeleteDepth = 0;
  return DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
}
