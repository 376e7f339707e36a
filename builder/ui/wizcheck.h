// The command check of the wizard's command pages, which the main body also
// applies to an installation command given on the command line.
#pragma once

// The command of the option record against the Zip name and the mode: true
// when it is refused (its message was shown). Notes whether it is an inf file.
bool check_command();
// The last checked command's program is an ".inf" file.
bool command_is_inf();
