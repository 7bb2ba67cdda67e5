#pragma once
// The music engine's file access: five replaceable operations shaped like
// their C library counterparts.  At start they are the C library's; a
// standalone copy switches all five at once to the pack-backed streams so
// that songs are read from the container before the disk.
//
// A handle belongs to the table that opened it: the engine copies the table
// when it opens a file and uses that copy until it closes it, so a switch
// never hands a stream to the wrong close.
#include <cstddef>

struct FileOps {
  // name, mode ("rb") -> handle, or nullptr.
  void* (*open)(const char* name, const char* mode);
  // Bytes read (the engine reads with itemSize 1); fewer at the end.
  size_t (*read)(void* buffer, size_t itemSize, size_t itemCount, void* handle);
  // origin 0 start, 1 current, 2 end (SEEK_SET/SEEK_CUR/SEEK_END); 0 on success.
  int (*seek)(void* handle, long offset, int origin);
  long (*tell)(void* handle);
  int (*close)(void* handle);
};

// The C library's table (fopen, fread, fseek, ftell, fclose).
FileOps cLibraryFileOps();
// The pack-backed table (PackStream over the process-wide Pack).
FileOps packFileOps();

// The process-wide table the music engine reads.  Its default is
// cLibraryFileOps().
FileOps& engineFileOps();
// Replaces all five entries with packFileOps() (the settings loader calls
// this when the settings carry the standalone marker).
void switchEngineFileOpsToPack();
// Back to the C library (tests).
void resetEngineFileOps();
// True when the table holds the pack-backed operations.
bool engineFileOpsUsePack();
