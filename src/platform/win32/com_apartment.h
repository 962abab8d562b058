#pragma once
// The multithreaded COM apartment for a thread the program starts: joined
// on the first call from that thread, left when the thread ends. Threads
// that call into the media and sound services (the encoder worker, the
// capture threads) use it.
void com_join_multithreaded();
