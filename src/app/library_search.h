// Keeps libraries loaded by plain name out of the folder the program was started from,
// where a planted DLL could wait (setup programs usually run from a Downloads folder).
#pragma once

void HardenLibrarySearch();
