#pragma once
// The kill harness of the tests: TOMOSHIBI_TEST_KILL_AT=step:n ends the
// process with SIGKILL at the n-th passing of that step; TOMOSHIBI_TEST_BATCH
// makes batches of that many mails.
namespace reception {

enum class KillStep { Connected, Retrieved, OriginalWritten, RecordWritten, JournalWritten, DeleteAnswered, BeforeQuit, QuitAnswered };

// Arms the harness for one check (the journal's writes pass a step too).
void armKillHarness();
void killPoint(KillStep step);
// The batch size the harness asks for; 0: the usual one.
int harnessBatchMails();

}  // namespace reception
