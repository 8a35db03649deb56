// The target folder the setup dialog proposes: the previous installation's
// folder (with its languages preset from its help files), else a folder
// "Navigrove" under the system's program-files folder.
#pragma once

// buffer: 260 characters; never empty on return. May change the selected
// fields of language_table.
void propose_target_folder(char *buffer);
// Empties buffer (260 characters), then fills it with the system's
// "ProgramFilesDir" when it can be read.
void read_program_files_dir(char *buffer);
// Selects the language_table rows whose help files exist in folder; leaves
// the table as it is when the folder is missing.
void detect_installed_languages(const char *folder);
