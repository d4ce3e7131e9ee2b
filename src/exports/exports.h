// Everything the exports module offers to the mount service, the file system
// backend and the window.
#pragma once

#include "exports/export_entry.h"
#include "exports/export_table.h"
#include "exports/exports_address.h"
#include "exports/exports_names.h"
#include "exports/exports_paths.h"
