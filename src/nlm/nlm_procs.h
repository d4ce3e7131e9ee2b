// Inside nlmd: the procedures behind NlmDispatch and their file binding.
#pragma once

// Empties the lock table and binds it to the file operations of the binding
// set with NlmSetFileBinding (at every start).
void NlmProcsReset(void);
