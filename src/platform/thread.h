#pragma once
// Thread helpers beyond std::thread.
#include <functional>
#include <thread>

// Starts `body` on a new thread in `*thread`. False when the system refuses
// a thread: `*thread` then stays empty and nothing is thrown, so a caller
// reports the failure instead of the process ending.
bool thread_start(std::thread* thread, std::function<void()> body);
// The same for a thread nobody joins (it ends with the process).
bool thread_start_detached(std::function<void()> body);

// Raises the calling thread's scheduling priority for time-critical work
// (audio capture). Returns false when the system does not allow it; the
// thread then keeps running at normal priority.
bool raise_thread_priority();

// Names the calling thread for debuggers and `top -H` (at most 15 bytes).
void set_thread_name(const char* name);

// The system's id of the calling thread, as tools and traces show it.
unsigned long current_thread_id();
