// The presenter's decisions about pointer and key events, on plain event data.
#include <gtest/gtest.h>

#include <vector>

#include "x11/event_rules.h"

namespace {

TEST(EventRules, DoubleClickWithin249MsAcrossTheClockWrap) {
    struct Case {
        uint32_t last, now;
        bool twice;
    };
    for (Case c : {Case{1000, 1249, true}, Case{1000, 1250, false}, Case{1000, 1000, true},
                   Case{0xFFFFFFF0u, 0x00000020u, true}, Case{0xFFFFFF00u, 0x00000100u, false}}) {
        PointerState p;
        p.last_press_time = c.last;
        WindowEvent e = on_button_press(p, 1, c.now);
        EXPECT_EQ(e.type, c.twice ? EVENT_DOUBLE_CLICK : EVENT_BUTTON_PRESS) << c.last << " " << c.now;
        EXPECT_EQ(p.last_press_time, c.now);
    }
}

TEST(EventRules, AutoRepeatIsAPressOfTheSameKeyAtTheSameOrNextMillisecond) {
    EXPECT_TRUE(is_auto_repeat(38, 500, true, 38, 500));
    EXPECT_TRUE(is_auto_repeat(38, 500, true, 38, 501));
    EXPECT_FALSE(is_auto_repeat(38, 500, true, 38, 502));
    EXPECT_FALSE(is_auto_repeat(38, 500, true, 39, 500));
    EXPECT_FALSE(is_auto_repeat(38, 500, false, 38, 500));
    EXPECT_FALSE(is_auto_repeat(38, 500, true, 38, 499)); // an earlier press is no repeat of this release
}

TEST(EventRules, ButtonsWheelsAndTheirReports) {
    PointerState p;
    p.last_press_time = 0;
    struct Step {
        bool press;
        unsigned button;
        int type, a, buttons, wheel, hwheel;
    };
    // X buttons 1, 2, 3 are left, middle, right; 4/5 the wheel, 6/7 the horizontal wheel; 8 has no bit.
    const Step steps[] = {
        {true, 1, EVENT_BUTTON_PRESS, 1, 1, 0, 0},
        {true, 3, EVENT_DOUBLE_CLICK, 2, 3, 0, 0},
        {true, 2, EVENT_DOUBLE_CLICK, 4, 7, 0, 0},
        {false, 1, EVENT_BUTTON_RELEASE, 1, 6, 0, 0},
        {false, 8, 0, 0, 6, 0, 0},
        {true, 4, EVENT_WHEEL, 0, 6, 1, 0},
        {true, 4, EVENT_WHEEL, 1, 6, 2, 0},
        {true, 5, EVENT_WHEEL, 2, 6, 1, 0},
        {true, 6, EVENT_HWHEEL, 0, 6, 1, -1},
        {true, 7, EVENT_HWHEEL, -1, 6, 1, 0},
        {true, 8, EVENT_BUTTON_PRESS, 0, 6, 1, 0}, // the wheels do not count as presses
    };
    uint32_t time = 10000;
    for (const Step& s : steps) {
        WindowEvent e = s.press ? on_button_press(p, s.button, time += 100) : on_button_release(p, s.button);
        EXPECT_EQ(e.type, s.type) << s.button;
        EXPECT_EQ(e.a, s.a) << s.button;
        EXPECT_EQ(p.buttons, s.buttons) << s.button;
        EXPECT_EQ(p.wheel, s.wheel) << s.button;
        EXPECT_EQ(p.hwheel, s.hwheel) << s.button;
    }
}

// What the frame's pointer reads see of presses and releases between them: 'p' press left, 'r' release
// left, 'P'/'R' the right button, '|' a read (the server's own mask at that moment is what the state holds).
TEST(EventRules, APressBetweenTwoReadsIsReadOnceHoweverShort) {
    struct Case {
        const char* events;
        std::vector<int> reads;
    } cases[] = {
        {"pr|", {1}},             // a click within one pass: down once
        {"pr||", {1, 0}},         // and only once
        {"p|||r|", {1, 1, 1, 0}}, // a held press reads as held, however often
        {"prpr|", {1}},           // two clicks between reads: one click
        {"r|", {0}},              // a release without a press
        {"pPrR|", {3}},           // both buttons, each once
        {"pr|p|r|", {1, 1, 0}},   // a second press after the first was read
        {"P|pR|r|", {2, 1, 0}},
    };
    for (const Case& c : cases) {
        PointerState p;
        std::vector<int> reads;
        uint32_t time = 1000;
        for (const char* e = c.events; *e; ++e) {
            switch (*e) {
            case 'p': (void)on_button_press(p, 1, time += 300); break;
            case 'r': (void)on_button_release(p, 1); break;
            case 'P': (void)on_button_press(p, 3, time += 300); break;
            case 'R': (void)on_button_release(p, 3); break;
            case '|': reads.push_back(take_buttons(p, p.buttons)); break;
            }
        }
        EXPECT_EQ(reads, c.reads) << c.events;
    }
}

// A read reports the place of the first left press since the read before, where the click was made, and
// the live place otherwise: a press, a move and a release between two reads acts on what was pressed.
TEST(EventRules, AReadPlacesAClickWhereTheLeftButtonWentDown) {
    struct Event {
        // p press left at (x, y), P press right at (x, y), r release left, | read at (x, y), d the server has
        // the left button down, its press not seen yet
        char kind;
        int x, y;
    };
    struct Case {
        const char* what;
        std::vector<Event> events;
        std::vector<PointerRead> reads;
    };
    const Case cases[] = {
        {"no press: the live place", {{'|', 7, 8}}, {{7, 8, 0}}},
        {"press, move, release", {{'p', 50, 210}, {'r', 0, 0}, {'|', 345, 89}}, {{50, 210, 1}}},
        {"held: the press once, then live",
         {{'p', 5, 6}, {'|', 9, 9}, {'|', 12, 13}},
         {{5, 6, 1}, {12, 13, 1}}},
        {"the first press counts", {{'p', 1, 2}, {'r', 0, 0}, {'p', 3, 4}, {'|', 9, 9}}, {{1, 2, 1}}},
        {"a right press is not placed", {{'P', 1, 2}, {'|', 9, 9}}, {{9, 9, 2}}},
        {"the next read starts afresh",
         {{'p', 1, 2}, {'r', 0, 0}, {'|', 9, 9}, {'|', 20, 21}},
         {{1, 2, 1}, {20, 21, 0}}},
        {"down before its press is seen: not yet",
         {{'d', 0, 0}, {'|', 9, 9}, {'p', 1, 2}, {'|', 20, 21}},
         {{9, 9, 0}, {1, 2, 1}}},
        {"down, its press seen two reads later",
         {{'d', 0, 0}, {'|', 9, 9}, {'|', 10, 10}, {'p', 1, 2}, {'|', 20, 21}, {'|', 22, 23}},
         {{9, 9, 0}, {10, 10, 0}, {1, 2, 1}, {22, 23, 1}}},
        {"down without a press of ours: no click",
         {{'d', 0, 0}, {'|', 9, 9}, {'|', 20, 21}},
         {{9, 9, 0}, {20, 21, 0}}},
    };
    for (const Case& c : cases) {
        PointerState p;
        std::vector<PointerRead> reads;
        uint32_t time = 1000;
        int held = 0;
        for (const Event& e : c.events) {
            switch (e.kind) {
            case 'p': (void)on_button_press(p, 1, time += 300, e.x, e.y); break;
            case 'P': (void)on_button_press(p, 3, time += 300, e.x, e.y); break;
            case 'r': (void)on_button_release(p, 1); break;
            case 'd': held |= 1; break;
            case '|': reads.push_back(take_pointer(p, p.buttons | held, e.x, e.y)); break;
            }
        }
        ASSERT_EQ(reads.size(), c.reads.size()) << c.what;
        for (std::size_t i = 0; i < reads.size(); ++i) {
            EXPECT_EQ(reads[i], c.reads[i]) << c.what << ", read " << i << ": " << reads[i].x << ","
                                            << reads[i].y << " buttons " << reads[i].buttons;
        }
    }
}

TEST(EventRules, MotionDecidesInsideAndReportsOnlyWithFocus) {
    PointerState p;
    WindowEvent e = on_motion(p, 5, 7, 105, 207, 80, 60, 0);
    EXPECT_EQ(e.type, 0); // no focus, but the position is kept
    EXPECT_TRUE(p.inside);
    p.has_focus = true;
    e = on_motion(p, 79, 59, 110, 200, 80, 60, 0);
    EXPECT_EQ(e.type, EVENT_POINTER_MOVED);
    EXPECT_EQ(e.a, 79);
    EXPECT_EQ(e.b, 59);
    EXPECT_EQ(e.c, 5);
    EXPECT_EQ(e.d, -7);
    EXPECT_TRUE(p.inside);
    struct Case {
        int x, y, y_offset;
        bool inside;
    };
    for (Case c :
         {Case{80, 10, 0, false}, Case{-1, 10, 0, false}, Case{10, 60, 0, false}, Case{10, 83, 84, false},
          Case{10, 84, 84, true}, Case{10, 143, 84, true}, Case{10, 144, 84, false}}) {
        (void)on_motion(p, c.x, c.y, 0, 0, 80, 60, c.y_offset);
        EXPECT_EQ(p.inside, c.inside) << c.x << "," << c.y << " offset " << c.y_offset;
        EXPECT_EQ(p.y, c.y - c.y_offset);
    }
}

TEST(EventRules, OnlyOurOwnGrabKeepsTheFocus) {
    struct Case {
        bool focus_in;
        int mode;
        bool own_grab;
        FocusEffect effect;
    };
    for (Case c : {
             Case{true, FOCUS_MODE_NORMAL, false, FocusEffect::GAINED},
             Case{true, FOCUS_MODE_UNGRAB, false, FocusEffect::GAINED}, // a task switcher lets go
             Case{true, FOCUS_MODE_WHILE_GRABBED, false, FocusEffect::GAINED},
             Case{true, FOCUS_MODE_GRAB, false, FocusEffect::NONE}, // the grabber gets the keys
             Case{false, FOCUS_MODE_NORMAL, false, FocusEffect::LOST},
             Case{false, FOCUS_MODE_NORMAL, true, FocusEffect::NONE}, // the manager moves it, the keys stay
             Case{false, FOCUS_MODE_GRAB, false, FocusEffect::LOST},  // another client's grab takes the keys
             Case{false, FOCUS_MODE_GRAB, true, FocusEffect::NONE},   // full screen's own grab
             Case{false, FOCUS_MODE_UNGRAB, false, FocusEffect::LOST},
             Case{false, FOCUS_MODE_WHILE_GRABBED, true, FocusEffect::NONE},
         })
        EXPECT_EQ(focus_effect(c.focus_in, c.mode, c.own_grab), c.effect)
            << c.focus_in << " mode " << c.mode << " own " << c.own_grab;
}

// With no window manager the focus stays the pointer root: the window is focused while the pointer is in it.
TEST(EventRules, APointerRootFocusFollowsThePointer) {
    constexpr int NORMAL = FOCUS_MODE_NORMAL, GRAB = FOCUS_MODE_GRAB, UNGRAB = FOCUS_MODE_UNGRAB;
    constexpr int ANCESTOR = 0, VIRTUAL = 1, NONLINEAR = 3;
    struct Case {
        bool enter, focus_flag;
        int detail, mode;
        bool has_focus, by_pointer, own_grab;
        FocusEffect effect;
    };
    for (Case c : {
             Case{true, true, ANCESTOR, NORMAL, false, false, false, FocusEffect::GAINED},
             Case{true, true, NONLINEAR, NORMAL, false, false, false, FocusEffect::GAINED},
             Case{true, true, ANCESTOR, UNGRAB, false, false, false,
                  FocusEffect::GAINED}, // moved in meanwhile
             Case{true, false, ANCESTOR, NORMAL, false, false, false, FocusEffect::NONE}, // focus elsewhere
             Case{true, true, ANCESTOR, NORMAL, true, false, false, FocusEffect::NONE},   // focused already
             Case{true, true, CROSSING_INFERIOR, NORMAL, false, false, false, FocusEffect::NONE},
             Case{true, true, ANCESTOR, GRAB, false, false, false, FocusEffect::NONE},
             Case{false, true, ANCESTOR, NORMAL, true, true, false, FocusEffect::LOST},
             Case{false, true, VIRTUAL, NORMAL, true, true, false, FocusEffect::LOST},
             Case{false, true, ANCESTOR, NORMAL, true, false, false, FocusEffect::NONE}, // a FocusIn's focus
             Case{false, true, ANCESTOR, NORMAL, false, false, false, FocusEffect::NONE},
             Case{false, true, CROSSING_INFERIOR, NORMAL, true, true, false,
                  FocusEffect::NONE},                                                 // still inside
             Case{false, true, ANCESTOR, GRAB, true, true, false, FocusEffect::NONE}, // the pointer stays put
             Case{false, true, ANCESTOR, NORMAL, true, true, true, FocusEffect::NONE}, // full screen's grab
             Case{true, true, ANCESTOR, NORMAL, false, false, true, FocusEffect::NONE},
         }) {
        PointerState p;
        p.has_focus = c.has_focus;
        p.focus_by_pointer = c.by_pointer;
        EXPECT_EQ(crossing_focus_effect(c.enter, c.focus_flag, c.detail, c.mode, p, c.own_grab), c.effect)
            << (c.enter ? "enter" : "leave") << " flag " << c.focus_flag << " detail " << c.detail << " mode "
            << c.mode << " focus " << c.has_focus << " by pointer " << c.by_pointer << " own " << c.own_grab;
    }
}

TEST(EventRules, ThePictureGoesBackToTheFramesCorner) {
    struct Case {
        bool in_frame;
        int x, y;
        bool off;
    };
    for (Case c : {Case{true, 0, 0, false}, Case{true, 32, 32, true}, Case{true, 0, 1, true},
                   Case{true, -5, 0, true}, Case{false, 240, 400, false}})
        EXPECT_EQ(picture_off_origin(c.in_frame, c.x, c.y), c.off) << c.in_frame << " " << c.x << "," << c.y;
}

TEST(EventRules, AManagerIsAskedForFullScreenWhenItSaysItCan) {
    constexpr unsigned long FULLSCREEN = 301, ABOVE = 302, CHECK = 0x200004;
    const unsigned long with[] = {ABOVE, FULLSCREEN};
    const unsigned long without[] = {ABOVE};
    struct Case {
        unsigned long on_root, on_itself;
        std::span<const unsigned long> supported;
        bool asked;
    };
    for (Case c : {Case{CHECK, CHECK, with, true}, Case{CHECK, CHECK, without, false},
                   Case{CHECK, 0, with, false},        // the manager died and left its id behind
                   Case{CHECK, 0x400001, with, false}, // another window now has that id
                   Case{0, 0, with, false}, Case{CHECK, CHECK, {}, false}})
        EXPECT_EQ(manager_offers_fullscreen(c.on_root, c.on_itself, c.supported, FULLSCREEN), c.asked)
            << std::hex << c.on_root << " " << c.on_itself << " " << c.supported.size();
}

TEST(EventRules, TheFullScreenPictureSitsInTheMiddleOfTheManagersFrame) {
    struct Case {
        int outer_width, outer_height;
        PicturePlace place;
    };
    // An 800x600 picture: weston's 1024x768, sway's 1280x720, a frame of exactly its size, and a smaller one.
    for (Case c : {Case{1024, 768, {112, 84}}, Case{1280, 720, {240, 60}}, Case{800, 600, {0, 0}},
                   Case{801, 601, {0, 0}}, Case{640, 480, {0, 0}}, Case{1000, 500, {100, 0}}})
        EXPECT_EQ(centred_in(c.outer_width, c.outer_height, 800, 600), c.place)
            << c.outer_width << "x" << c.outer_height;
}

TEST(EventRules, AltEnterNeedsBothKeysAndTheServersAlt) {
    struct Case {
        bool enter, alt, alt_held;
        bool allowed;
        bool switches;
    };
    for (Case c : {Case{true, true, true, true, true}, Case{true, true, true, false, false},
                   Case{true, true, false, true, false}, // Alt's release went to another client's grab
                   Case{true, false, true, true, false}, Case{false, true, true, true, false}}) {
        uint8_t key_state[128] = {};
        key_state[SCANCODE_ENTER] = c.enter;
        key_state[SCANCODE_ALT] = c.alt;
        EXPECT_EQ(asks_fullscreen_switch(key_state, c.alt_held, c.allowed), c.switches)
            << c.enter << c.alt << c.alt_held << c.allowed;
    }
}

TEST(EventRules, EachForeignSizeAsksForOneSwitch) {
    // An 800x200 mode whose full-screen size is 800x240; steps in the order a window manager sends them.
    struct Step {
        int width, height;
        bool switches;
    };
    const Step steps[] = {
        {800, 200, false},  {800, 240, false},                      // the mode's own sizes
        {1000, 700, true},  {1000, 700, false}, {1000, 700, false}, // forced again after each map
        {800, 200, false},  {1000, 700, false},                     // its own size between does not reset
        {1280, 1024, true}, {1000, 700, true},                      // the user maximises, then restores
        {800, 600, true},   {801, 200, true},   {800, 201, true},
    };
    ForeignSizes tried;
    for (const Step& s : steps)
        EXPECT_EQ(foreign_size_asks_switch(tried, s.width, s.height, 800, 200, 240), s.switches)
            << s.width << "x" << s.height;
}

} // namespace

#include "x11/mode_choice.h"

namespace {

TEST(ModeChoice, RoundedHeight) {
    struct Case {
        int height, rounded;
    };
    for (Case c : {Case{200, 240}, Case{239, 240}, Case{240, 480}, Case{600, 768}, Case{1000, 1024},
                   Case{1023, 1024}, Case{1024, 1024}, Case{1200, 1200}})
        EXPECT_EQ(rounded_height(c.height), c.rounded) << c.height;
}

TEST(ModeChoice, FirstListedSizeOfTheModeOrItsRoundedHeight) {
    const DisplaySize usual[] = {{1024, 768}, {800, 600}, {800, 768}, {640, 480}, {800, 240}, {800, 200}};
    const DisplaySize taller_first[] = {{800, 768}, {800, 600}};
    struct Case {
        std::span<const DisplaySize> sizes;
        int width, height, index;
    };
    for (Case c : {Case{usual, 800, 600, 1}, Case{taller_first, 800, 600, 0}, Case{usual, 800, 200, 4},
                   Case{usual, 1024, 768, 0}, Case{usual, 640, 400, 3}, Case{usual, 800, 1200, -1},
                   Case{usual, 801, 600, -1}, Case{{}, 800, 600, -1}})
        EXPECT_EQ(choose_fullscreen_size(c.sizes, c.width, c.height), c.index) << c.width << "x" << c.height;
}

TEST(ModeChoice, RequestedRateOnlyWhenTheSizeOffersIt) {
    const short rates[] = {60, 75, 85};
    EXPECT_EQ(choose_rate(rates, 75), 75);
    EXPECT_EQ(choose_rate(rates, 70), 0);
    EXPECT_EQ(choose_rate(rates, 0), 0);
    EXPECT_EQ(choose_rate(rates, -60), 0);
    EXPECT_EQ(choose_rate({}, 60), 0);
}

} // namespace
