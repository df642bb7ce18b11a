// The records that cross a binary interface, checked in the one build where
// their sizes and offsets are fixed: 32-bit Windows. Callers compiled
// elsewhere (32-bit Explorer, programs that call our exports, the engine
// bound by ordinal) lay them out exactly so. This file only compiles; a
// record that drifts stops the i686 build.
#include <windows.h>
#include <commctrl.h>
#include <cpl.h>
#include <prsht.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "clock.h"
#include "kseng32.h"
#include "shellext/history_window.h"

#if !defined(__i386__)
#error "compiled in the 32-bit tree only"
#endif

static_assert(sizeof(void*) == 4, "a 32-bit target");

// The engine's directory block and its records, read by the shell extension
// at fixed offsets.
static_assert(sizeof(ArchiveDirectory) == 644, "directory block");
static_assert(offsetof(ArchiveDirectory, versionCount) == 372, "directory: version count");
static_assert(offsetof(ArchiveDirectory, versionCounter) == 374, "directory: version counter");
static_assert(offsetof(ArchiveDirectory, compressed) == 378, "directory: compressed flag");
static_assert(offsetof(ArchiveDirectory, records) == 384, "directory: first record");
static_assert(sizeof(ArchiveDirectory::records) == 4, "directory: records are a 32-bit address");
static_assert(sizeof(EngineVersionRecord) == 228, "version record");
static_assert(offsetof(EngineVersionRecord, userName) == 129, "record: user");
static_assert(offsetof(EngineVersionRecord, number) == 196, "record: number");
static_assert(offsetof(EngineVersionRecord, permanent) == 198, "record: permanent flag");
static_assert(offsetof(EngineVersionRecord, dosTime) == 200, "record: time");
static_assert(sizeof(EngineVersionRecord::dosTime) == 4, "record: time is 32 bits");
static_assert(sizeof(EngineTag) == 144, "tag");
static_assert(offsetof(EngineTag, code) == 128, "tag: code");
static_assert(sizeof(EngineTag::code) == 2, "tag: code is 16 bits");
static_assert(sizeof(EngineDirHandle) == 4, "directory handle");
static_assert(sizeof(EngineVerifyResult) == 80, "verify result");
static_assert(offsetof(EngineVerifyResult, damaged) == 16, "verify result: damaged versions");

// Property sheets: the history page's description and the history window's
// header, in the sizes the 32-bit shell is handed. The page description is
// made with PROPSHEETPAGEA_V2_SIZE, which is no constant expression; its
// layout is checked here and its use by the test of the sheet records.
static_assert(offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR) == 48, "property page description");
static_assert(kHistorySheetHeaderSize == 52, "property sheet header");

// The history page's toolbar buttons.
static_assert(sizeof(TBBUTTON) == 20, "toolbar button");

// The Control Panel's records of the settings applet.
static_assert(sizeof(CPLINFO) == 16, "applet information");
static_assert(sizeof(NEWCPLINFOA) == 244, "applet information, extended");

// time_t stays 32 bits here, as the C runtime and the prebuilt threads
// library were built with it: a 64-bit time_t in our code would hand the
// threads library timeouts of the wrong layout. The engine stamps versions
// from a clock of its own, 64 bits wide, so they outlive 2038.
static_assert(sizeof(std::time_t) == 4, "time_t of the 32-bit C runtime");
static_assert(sizeof(kseng::currentUnixTime()) == 8, "the engine's clock");
