#pragma once
// The end of a capture source's own delivery thread, shared by the sources
// that have one: stop() from another thread wakes it and waits, bounded, for
// it to leave; from the thread itself nothing can be waited for.
#include <functional>
#include <thread>

// Returns false when called on `thread` itself (delivery ends when the
// current callback returns). Otherwise wakes the thread, lets `wait_ended`
// wait (with its own bound) and joins it; when it did not end in time it is
// detached and `*abandoned` set: the source must then never be freed, since
// the thread still uses it. True as well when no thread runs.
bool stop_source_thread(std::thread* thread, const std::function<void()>& wake,
                        const std::function<bool()>& wait_ended, bool* abandoned);
