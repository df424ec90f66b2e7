#pragma once

// Prints the memory a loaded customer and call table hold over their
// answers' bytes on the wire, as "ratio" lines.
void PrintTableMemoryRatios();
