#pragma once

// Closes the windows and stops the server of the window benchmarks; before
// the application ends.
void EndWindowBench();
