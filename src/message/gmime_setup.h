#pragma once

namespace drovanta {

// Initialises GMime once per process, whichever thread comes first. Call it before the first
// GMime call of any reader; it costs an atomic load after the first time.
void EnsureGMime();

}  // namespace drovanta
