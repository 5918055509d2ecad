#include "tests/gfx/recording_driver.h"

namespace {

DriverRecord record;

template <const char* Name>
int open(const char* title, int width, int height, int depth, int rate, int flags) {
    OpenCall call{Name, title, width, height, depth, rate, flags};
    record.opens.push_back(call);
    return record.accept_open(call) ? 0 : -1;
}
template <const char* Name> void close() {
    record.closes.push_back(Name);
}
void lock() {
    ++record.locks;
}
void unlock() {
    ++record.unlocks;
    if (record.on_unlock) record.on_unlock();
}
void set_palette_entry(int, int, int, int) {
    ++record.palette_entries;
    record.palette_entries_unlocked += record.locks == record.unlocks;
}
void set_caption(const char* text) {
    record.captions.push_back(text);
}

constexpr char alpha_name[] = "Alpha";
constexpr char beta_name[] = "Beta";

} // namespace

DriverRecord& recording() {
    return record;
}
void reset_recording() {
    record = DriverRecord{};
}

const ScreenDriver recording_alpha = {
    .name = alpha_name,
    .open = open<alpha_name>,
    .close = close<alpha_name>,
    .lock = lock,
    .unlock = unlock,
    .set_palette_entry = set_palette_entry,
    .wait_retrace = nullptr,
    .query_pointer = nullptr,
    .set_pointer = nullptr,
    .set_caption = set_caption,
    .move_window = nullptr,
    .list_sizes = nullptr,
    .present = nullptr,
};

const ScreenDriver recording_beta = {
    .name = beta_name,
    .open = open<beta_name>,
    .close = close<beta_name>,
    .lock = lock,
    .unlock = unlock,
    .set_palette_entry = set_palette_entry,
    .wait_retrace = nullptr,
    .query_pointer = nullptr,
    .set_pointer = nullptr,
    .set_caption = set_caption,
    .move_window = nullptr,
    .list_sizes = nullptr,
    .present = nullptr,
};
