#pragma once

// Events recorded in a package's run-history page. The values are stored in the pages;
// never renumber them.
enum eHistoricalEvent {
    ProgramCreated = 0,  // the package was made for a program
    ProgramRun = 1,      // the program ran to its end
    ProgramEdited = 2,   // the program was changed
    StatisticsReset = 3, // the run statistics were cleared
    ProgramOrigin = 4,   // the program's earlier name or origin (moved, copied, imported)
    OperatorNote = 5     // free text from the operator
};
