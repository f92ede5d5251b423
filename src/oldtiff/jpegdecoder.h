// Compact baseline JPEG decoder of the colour members and of the old-style JPEG strips.
//
// It reads 8-bit baseline streams, grey (one component) or colour (luminance sampled 2 x 1,
// both chroma 1 x 1), with its own fixed-point arithmetic, and hands the picture out row by
// row through callbacks: grey rows one byte per pixel, colour rows blue, green, red per pixel
// (DIB order). Every decode keeps its whole state in the call, so decodes on several threads
// at once are independent.
#pragma once
#include <cstdint>

// Callbacks; each receives the caller's context value first.
using JpegOpenFn = int (*)(void* context);  // negative: the decode fails with -1 at once
// Places up to `size` bytes into `buffer`; returns the count, or a negative value (or 0) at
// the end of the data or on failure.
using JpegReadFn = int (*)(void* context, std::uint8_t* buffer, int size);
using JpegCloseFn = void (*)(void* context);  // once, after every decode whose open succeeded
// Once the frame is read: size, component count and the comment (zero-terminated, "" without
// one). Negative: the decode fails with -1.
using JpegBeginFn = int (*)(void* context, int width, int height, int components,
                            const char* comment);
// Row `row` (0 = top) of `width` pixels; the buffer may be longer (whole units). Negative:
// no further row is delivered.
using JpegRowFn = int (*)(void* context, int row, const std::uint8_t* pixels);
using JpegEndFn = void (*)(void* context);  // after close, on the same paths

// Results of the decoder. These and the reasons below are the decoder's own numbers; some equal
// the older-file readers' codes (oldtiff.h) and mean something else there: a caller says in its
// own codes what a failed decode means to it.
constexpr int kJpegOk = 0;
constexpr int kJpegFailed = -1;       // open/begin refused, unsupported layout, no memory
constexpr int kJpegNoSoi = -108;      // the stream does not begin with SOI
constexpr int kJpegBadTables = -110;  // a table segment before the frame was refused
constexpr int kJpegBadFrame = -111;   // the frame marker or the SOF0 segment was refused

// Reasons: why a decode failed, or why decoding of blocks stopped inside the scan (the result
// is 0 once the scan has been entered; the rows still come, the undecoded part mid-grey).
enum JpegReason : int {
    kJpegReasonNone = 0,
    kJpegReasonMarkerInData = -1,     // entropy-coded data ended at a marker
    kJpegReasonHuffmanClass = -104,   // DHT class/number byte other than 0x00, 0x01, 0x10, 0x11
    kJpegReasonScanComponent = -105,  // scan component identifier not among the frame's
    kJpegReasonNoFrame = -109,        // no SOF marker where the frame is expected
    kJpegReasonRowRefused = -113,     // the row callback returned a negative value
    kJpegReasonDac = -114,
    kJpegReasonSof1 = -115,
    kJpegReasonSof2 = -117,
    kJpegReasonSof3 = -118,
    kJpegReasonSof5 = -119,
    kJpegReasonSof6 = -120,
    kJpegReasonSof7 = -121,
    kJpegReasonEndOfData = -122,  // a byte was needed after the data ended
    kJpegReasonDriLength = -125,
    kJpegReasonDqtLength = -126,
    kJpegReasonDqtPrecision = -127,
    kJpegReasonDqtNumber = -128,  // quantisation table number above 1 (DQT or frame)
    kJpegReasonDqtLeftover = -129,
    kJpegReasonSofPrecision = -130,
    kJpegReasonSofLength = -131,
    kJpegReasonSofLengthMultiple = -132,
    kJpegReasonSofNoComponents = -133,
    kJpegReasonSofComponentCount = -134,
    kJpegReasonSosLength = -136,
    kJpegReasonSosComponentCount = -137,
    kJpegReasonSosLengthCount = -138,
    kJpegReasonTableNumber = -139,        // scan names a Huffman table above 1
    kJpegReasonTooManyComponents = -140,  // frame of more than 4 components
    kJpegReasonSampling = -141,           // sampling or scan layout other than grey or 2x1/1x1/1x1
    kJpegReasonHuffmanCounts = -142,  // code counts summing to 0, above 256, or past the segment
    kJpegReasonDcCategory = -144,     // DC difference category above 15
    kJpegReasonBadCode = -145,        // a code that matches no length up to 16 bits
    kJpegReasonCoefficientPosition = -146,  // run past position 63
    kJpegReasonSegmentLength = -147,        // segment length below 2
    kJpegReasonSize = -148,                 // width or height 0
    kJpegReasonNoMemory = -149,             // the comment could not be kept
};

// Decodes a whole stream. Open, close, begin and end may be null. `reason` (may be null)
// receives the reason field at the end. Returns kJpegOk, kJpegFailed, kJpegNoSoi,
// kJpegBadTables or kJpegBadFrame.
int DecodeJpegStream(JpegOpenFn open, void* context, JpegReadFn read, JpegCloseFn close,
                     JpegBeginFn begin, JpegRowFn row, JpegEndFn end, int* reason = nullptr);

// Reads the header segments of a file (SOI, tables, frame). Each out may be null. The comment
// buffer receives min(size, comment length) bytes without a terminating zero (bytes beyond
// stay as they were); without a comment its first byte becomes 0.
int DecodeJpegFile(const char* path, int* width, int* height, int* components, char* comment,
                   int commentSize, int* reason = nullptr);

// Decodes a whole file through the stream decoder with file callbacks.
int DecodeJpegFileRows(const char* path, void* context, JpegBeginFn begin, JpegRowFn row,
                       JpegEndFn end, int* reason = nullptr);

// Length of the file's comment; 0 without one or when its header cannot be read.
int GetJpegCommentLength(const char* path);
