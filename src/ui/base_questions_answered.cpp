// Linked into the programs that run parts of SETUP.EXE without its start-up (the test programs,
// the peers, the benchmarks): the base's questions are asked with ui's box from the start, as
// SETUP.EXE's start-up arranges.
#include "ui/dialogs.h"

namespace {

const bool answered = (answer_base_questions(), true);

}  // namespace
