#pragma once

// The memory a loaded customer and call table hold over their answers'
// bytes on the wire, as ratio lines. Measured before any benchmark runs:
// the tables those replace leave buffers behind for the next of their kind.
void RecordTableMemoryRatios();
