#pragma once
// The encoder record: queues, sample pools, worker and counters.
struct Encoder {};
