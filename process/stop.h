// Stops the product's two programs, recognised by file name and by the
// maker's name in their version resource.
#pragma once

int StopProductProcesses();
