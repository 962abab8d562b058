#pragma once
// Frame intake and the adaptive governor.
struct Governor {};
struct FrameIntake {};
