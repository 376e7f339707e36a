// For tests: QL_TEST_DIALOG=<name>[:<argument>] makes the builder open one of
// its dialogs right after its start-up checks, in place of reading its
// switches, and append what came of it to the file QL_TEST_RESULT (one UTF-8
// line per event). Names:
//   about              the About box                      "about"
//   confirm            confirm_dialog (help: dialogs)     "confirm <result>"
//   box                a question with a Help button      "box <button>"
//   browse-zip:PATH    the open dialog for a Zip file     "chosen <path>" or "none"
//   browse-text:PATH, browse-icon:PATH, save-text:PATH    the other file dialogs
//   build-page:ZIP     a build of ZIP (as with -y) in a stand-in of the
//                      wizard's build page with its meter: "built <result>
//                      range <total> done <done>" as the meter shows them
//                      at the end, then "meter gone, place hidden" once it is
//                      removed; the exit code is the build's (1 or 2)
//   main:idle|busy|dialog  a stand-in main window with the instance marker
//                      idle, busy, or idle under an open confirmation dialog:
//                      "ready" once it is up, "handed <wParam> <text>" when a
//                      second builder hands over its command line (then it
//                      ends); it ends too when the file QL_TEST_RESULT.stop
//                      appears.
// Nothing of this runs unless the variable is set.
#pragma once

// True when a test dialog ran; exit_code is then the builder's exit code.
bool run_test_dialog_if_asked(int* exit_code);
