// Names that SETUP.EXE itself uses in the install folder, which no product file may take.
// Portable: ksdist refuses a product file of such a name.
#pragma once

// The folder in which a run keeps its journal and the backup of the files it writes over; it exists only
// while a run is under way (or was cut off).
constexpr const char kRollbackFolderName[] = "KSSETUP.$$$";
