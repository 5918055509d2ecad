// What a frame holds back, as plain data: the operations it notes (RecordedOp, compared with the previous
// frame's at its end) and the fills a commit keeps back until it releases the driver lock. The functions on
// them are in gfx/frame_record.h and gfx/deferred.h.
//
// Adding a kind of operation: a RecordedKind, its row in the kind table of frame_record.cpp (the lines it
// may touch, how it draws), and the primitive that submits it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/fonts.h"

enum RecordedKind : uint8_t {
    RECORDED_LINE,
    RECORDED_BOX,
    RECORDED_TEXT,
    RECORDED_CLEAR,
    RECORDED_KIND_COUNT
};

// One drawing operation, as the rasterizers take it: target pixels and the colour as the target stores it.
// Small and without padding: a frame's operations are read again every frame.
struct RecordedOp {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0; // line ends; box and clear corners (ordered); text: the pen
    uint32_t colour = 0;
    uint32_t form = 0;              // recorded_form: written and compared as one word
    const FontDesc* font = nullptr; // text only
    uint32_t text_length = 0;
    uint32_t text_offset = 0; // where its bytes lie in the frame's text; not compared
};
static_assert(sizeof(RecordedOp) == 40, "RecordedOp must stay free of padding");

// The kind, the line style and whether a box is filled, as RecordedOp::form holds them.
[[nodiscard]] constexpr uint32_t recorded_form(RecordedKind kind, uint16_t style = 0xFFFF,
                                               bool filled = false) {
    return uint32_t{kind} | uint32_t{filled} << 8 | uint32_t{style} << 16;
}
[[nodiscard]] constexpr RecordedKind recorded_kind(const RecordedOp& op) {
    return static_cast<RecordedKind>(op.form & 0xFF);
}
[[nodiscard]] constexpr bool recorded_filled(const RecordedOp& op) {
    return (op.form >> 8 & 0xFF) != 0;
}
[[nodiscard]] constexpr uint16_t recorded_style(const RecordedOp& op) {
    return static_cast<uint16_t>(op.form >> 16);
}

// The operations of one frame, and which of them touch each band of lines (built only when needed).
struct FrameOps {
    std::vector<RecordedOp> ops;
    std::string text;                 // the texts' bytes, one after the other
    bool blends = false;              // an operation blends with the pixels under it
    bool bands_built = false;         // band_start and band_ops describe ops
    std::vector<uint32_t> band_start; // band b's operations are band_ops[band_start[b] .. band_start[b+1])
    std::vector<uint32_t> band_ops;   // indexes into ops
    std::vector<uint32_t> band_fill;  // scratch of build_bands
};

// A frame's text, as noted for op.
[[nodiscard]] inline std::string_view recorded_text(const FrameOps& frame, const RecordedOp& op) {
    return std::string_view(frame.text).substr(op.text_offset, op.text_length);
}

// Operation i of frame equals op with text: the one comparison of two operations. Field by field: a caller
// that has just written op field by field would wait for those writes if it were read back in wider pieces.
[[nodiscard]] inline bool same_op(const RecordedOp& op, std::string_view text, const FrameOps& frame,
                                  std::size_t i) {
    const RecordedOp& n = frame.ops[i];
    return op.x1 == n.x1 && op.y1 == n.y1 && op.x2 == n.x2 && op.y2 == n.y2 && op.colour == n.colour &&
           op.form == n.form && op.font == n.font && text.size() == n.text_length &&
           (text.empty() || std::memcmp(text.data(), frame.text.data() + n.text_offset, text.size()) == 0);
}

// Opaque fills of one page not written yet, line by line in drawing order (gfx/deferred.cpp).
struct PendingSpan {
    int32_t x = 0;       // first pixel
    int32_t count = 0;   // pixels
    uint32_t colour = 0; // converted for the page
};
inline constexpr int PENDING_SPANS_PER_LINE = 8;
struct DeferredFills {
    int32_t page = -1;            // page the fills belong to; -1 while nothing is pending
    int32_t first = 0, last = -1; // lines that may hold fills
    // Bit y % 64 of word y / 64: line y has a fill over its whole width pending, and perhaps spans over
    // it (a part of a line is only kept back over a whole-line fill). Small enough to stay cached.
    std::vector<uint64_t> marks;
    std::vector<uint32_t> base;     // per line, the colour of that whole-line fill
    std::vector<uint8_t> counts;    // per line, the spans pending over the base
    std::vector<PendingSpan> spans; // PENDING_SPANS_PER_LINE per line
};

// Frames recorded instead of drawn, and the fills kept back while a commit draws (gfx/frame_record.h).
struct FrameRecord {
    bool enabled = false;    // the mode records its frames (gfx_record_frames)
    bool recording = false;  // the current frame has operations noted and not committed yet
    bool committing = false; // noted operations are being drawn under the driver lock
    // The page holds what previous draws, and drawing previous again over it changes nothing.
    bool previous_valid = false;
    bool diverged = false;   // the current frame's operations are in current, not only counted in matched
    std::size_t matched = 0; // the current frame's operations so far equal previous's first ones
    FrameOps current, previous;
    std::vector<uint32_t> equal_to; // scratch of the band comparison
    DeferredFills fills;            // written before the commit releases the driver lock
};
