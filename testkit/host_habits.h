// The calling habits of the hosts people run the plug-ins in, one row each.
// A Windows test program plays each row against the real DLLs and judges it
// by what that host would show or save: the picture in its window, the file
// it writes, the members it lists.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum HostHabitKind {
    // A terminal that shows a picture behind its text: finds its plug-ins by
    // their lower-case extension, takes one with GetPluginInfo, IsSupported
    // and GetPicture whose version has "IN" at bytes 2 and 3, reads the whole
    // file into a buffer of at least 2 KiB (the zero padding counted as part
    // of the image), decodes from memory and copies exactly biSizeImage
    // bytes of the pixel block into a DIB section.
    HABIT_TERMINAL,
    // A game engine: GetPicture on the file name with no IsSupported first,
    // every file whose extension matches the pattern handed over unprobed.
    HABIT_ENGINE_PICTURE,
    // The same engine probing an archive with IsSupported on an open handle
    // (whose position must come back unchanged), then listing it by name.
    HABIT_ENGINE_ARCHIVE,
    // A paint program: GetArchiveInfo and GetFile on a memory image, every
    // block read by taking the HLOCAL as a pointer to its data pointer.
    HABIT_PAINT_ARCHIVE,
    // The same program decoding from memory, reading both blocks that way.
    HABIT_PAINT_PICTURE,
    // An extraction tool: the record count as LocalSize of the list over the
    // record size, less one; each member to memory, its length LocalSize.
    HABIT_EXTRACTOR_ARCHIVE,
    // The same tool decoding a picture stored at an offset in a bigger file.
    HABIT_EXTRACTOR_PICTURE,
    // A graphics library: GetPluginInfo(0, buf, 5) compared with "00IN",
    // IsSupported with no name and the whole file as the buffer.
    HABIT_GRAPHICS_LIBRARY,
    // A viewer running plug-ins in a helper process: GetPluginInfo into a
    // 1,024-byte buffer from index 0 until it answers 0, then a BMP file
    // whose bfOffBits is 14 + LocalSize of the information block.
    HABIT_HELPER_PICTURE,
    // The same viewer walking the records until method[0] is 0, reading
    // each one's timestamp.
    HABIT_HELPER_ARCHIVE,
    // A wrapper library matching the plug-ins' extension case-sensitively.
    HABIT_WRAPPER,
    // Any host on Windows before 10 version 2004 or on Server 2019, whose
    // processor-feature query says no to SSSE3 and AVX2 on any processor.
    HABIT_OLD_WINDOWS,
};

enum HostHabitInput {
    HABIT_INPUT_NONE,
    HABIT_INPUT_SMALL_PICTURE,  // a 16-bit picture in less than 2 KiB
    HABIT_INPUT_PICTURE,        // one wide enough for every conversion path
    HABIT_INPUT_PLAIN_BITMAP,   // a 24-bit bitmap, which pellimor does not read
    HABIT_INPUT_ARCHIVE,
};

struct HostHabit {
    const char *name;  // the row's name in the test's output
    HostHabitKind kind;
    HostHabitInput input;
    int32_t result;    // the result code that host gets
};

constexpr HostHabit HOST_HABITS[] = {
    {"TerminalSmallPicture", HABIT_TERMINAL, HABIT_INPUT_SMALL_PICTURE, 0},
    {"TerminalPicture", HABIT_TERMINAL, HABIT_INPUT_PICTURE, 0},
    {"EnginePictureUnprobed", HABIT_ENGINE_PICTURE, HABIT_INPUT_PICTURE, 0},
    // A host routing by extension alone loses plain bitmaps to pellimor.
    {"EnginePlainBitmapUnprobed", HABIT_ENGINE_PICTURE, HABIT_INPUT_PLAIN_BITMAP, 2},
    {"EngineArchiveByHandle", HABIT_ENGINE_ARCHIVE, HABIT_INPUT_ARCHIVE, 0},
    {"PaintArchiveThroughHandles", HABIT_PAINT_ARCHIVE, HABIT_INPUT_ARCHIVE, 0},
    {"PaintPictureThroughHandles", HABIT_PAINT_PICTURE, HABIT_INPUT_PICTURE, 0},
    {"ExtractorCountsByLocalSize", HABIT_EXTRACTOR_ARCHIVE, HABIT_INPUT_ARCHIVE, 0},
    {"ExtractorPictureAtOffset", HABIT_EXTRACTOR_PICTURE, HABIT_INPUT_PICTURE, 0},
    {"GraphicsLibraryWholeFile", HABIT_GRAPHICS_LIBRARY, HABIT_INPUT_SMALL_PICTURE, 0},
    {"HelperProcessSavesBitmap", HABIT_HELPER_PICTURE, HABIT_INPUT_PICTURE, 0},
    {"HelperProcessWalksRecords", HABIT_HELPER_ARCHIVE, HABIT_INPUT_ARCHIVE, 0},
    {"WrapperExtensionCase", HABIT_WRAPPER, HABIT_INPUT_NONE, 0},
    {"OldWindowsFeatureQuery", HABIT_OLD_WINDOWS, HABIT_INPUT_PICTURE, 0},
};

// Makes the processor-feature query answer no to everything in `module`
// (a loaded DLL or program; natively the Win32 layer, for this thread), as
// on a system that predates its SSSE3 and AVX2 answers, or puts the real
// query back. Returns 0 when the module does not import it.
int feature_query_predates(void *module, int predates);
