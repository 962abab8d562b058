#pragma once
// The one screen-capture object.
struct Capture {};
