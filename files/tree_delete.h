// Deletion of a folder tree on the NT family through handles alone. The
// folders from a base down to the one deleted are held without delete
// sharing; every name below is opened relative to its held folder without
// following a link, judged by what its handle says and deleted through it.
#pragma once

// Deletes base\relative with everything below it; true when it is gone.
// base is a folder the system names (Program Files, a shell folder) and is
// opened by its path; relative is one or more names below it, the last one
// the folder (or file) to delete. A link or a file among the names before
// the last stops the deletion; a link at or below the last name is removed as
// a link. With reset_logs, the access list of the folder's "logs" folder is
// replaced right before its contents go, while the walk holds it without
// sharing, and written back when that folder stays.
int DeleteTreeByHandles(const char* base, const char* relative, bool reset_logs);
