#pragma once

// Puts every fernlog module back to its state at a fresh start: the settings
// record, link flags, decoded readings, polling and start-up flags, status
// list and grid, data-log outages and the error log's console memory.
void ResetFernlogState();
