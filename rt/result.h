// The result code of the last runtime operation: set by the file, number and sleep calls of rt/ and by the
// drawing and input calls of gfx/, read by the caller that wants to know why a call did nothing.
//
// Each thread has its own: threads that run tools at once never see each other's results.
#pragma once

enum RtCode : int {
    RT_OK = 0,
    RT_NOT_ALLOWED = 1,  // bad, free or busy number; unusable argument
    RT_CANNOT_OPEN = 2,  // the file or command cannot be opened
    RT_END_OF_INPUT = 17 // internal: a line read met the end of input
};

[[nodiscard]] int rt_last_error();
void rt_set_error(int code);
// Sets the code and returns it, for a call that returns its result code too.
inline int rt_result(int code) {
    rt_set_error(code);
    return code;
}
