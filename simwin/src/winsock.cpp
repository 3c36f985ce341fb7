// Simulated Winsock 2 and its service-provider catalog.
// Not simulated yet: Winsock starts and the catalog is empty.
#include "state.h"

namespace sim {
namespace detail {
void ResetWinsock() {}
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

int WSAStartup(WORD version, LPWSADATA data) {
  DWORD err = WSASYSNOTREADY;
  if (Enter("WSAStartup", err, "0x%04x", version)) return static_cast<int>(err);
  memset(data, 0, sizeof *data);
  data->wVersion = version;
  data->wHighVersion = 0x0202;
  return 0;
}
int WSACleanup(void) {
  DWORD err = WSANOTINITIALISED;
  if (Enter("WSACleanup", err, "")) return SOCKET_ERROR;
  return 0;
}
int WSCEnumProtocols(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length, LPINT error) {
  DWORD err = WSAENOBUFS;
  Enter("WSCEnumProtocols", err, "%p,%p,%u", static_cast<void*>(protocols), static_cast<void*>(buffer),
        length ? *length : 0);
  *length = 0;
  *error = 0;
  return 0;
}
int WSCGetProviderPath(LPGUID provider, WCHAR* path, LPINT length, LPINT error) {
  DWORD err = WSAEINVAL;
  Enter("WSCGetProviderPath", err, "%p", static_cast<void*>(provider));
  (void)path;
  (void)length;
  *error = WSAEINVAL;
  return SOCKET_ERROR;
}
int WSCDeinstallProvider(LPGUID provider, LPINT error) {
  DWORD err = WSAEINVAL;
  Enter("WSCDeinstallProvider", err, "%p", static_cast<void*>(provider));
  *error = WSAEINVAL;
  return SOCKET_ERROR;
}
int WSCEnumProtocols32(LPINT protocols, LPWSAPROTOCOL_INFOW buffer, LPDWORD length, LPINT error) {
  return WSCEnumProtocols(protocols, buffer, length, error);
}
int WSCGetProviderPath32(LPGUID provider, WCHAR* path, LPINT length, LPINT error) {
  return WSCGetProviderPath(provider, path, length, error);
}
int WSCDeinstallProvider32(LPGUID provider, LPINT error) { return WSCDeinstallProvider(provider, error); }
