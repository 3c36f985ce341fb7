// The product's registry items: the product keys, the Run value, the applet
// registration, the same keys in the 64-bit view and the uninstall key.
#pragma once

int HasProductRegistry(int edition, int generation);
int DeleteProductRegistry(int edition, int generation);
int HasProductRegistry64(int edition);
int DeleteProductRegistry64(int edition);
int DeleteUninstallRegistry();
