/* Kestra Setup message catalogue: every string-table id and its text, in one place.
 * Included by the resource script (the string table) and by portable code that needs the same
 * texts outside Windows (ksdist prints the extractor's messages exactly as SETUP.EXE shows them).
 * A text that begins with "!" continues with the text of the next id. A double quote inside a
 * text is written \042, which the resource compiler and C++ read alike without complaint. */
#ifndef KESTRA_RESOURCES_CATALOGUE_H
#define KESTRA_RESOURCES_CATALOGUE_H
// clang-format off

#define MSG_CANNOT_CREATE_FOLDER     1004
#define MSG_CONFIRM_CANCEL           1005
#define MSG_NOT_INSTALLED            1006
#define MSG_SIDE_FILE_MISSING        1013
#define MSG_SAME_AS_SOURCE           1016
#define MSG_CANNOT_OPEN              1017
#define MSG_CANNOT_OPEN_FOR_WRITING  1018
#define MSG_ERROR_WRITING            1019
#define MSG_SETUP_TITLE              1021
#define MSG_SIDE_FILE_TIME           1023
#define MSG_INVALID_FOLDER           1024
#define MSG_PRODUCT_RUNNING          1025
#define MSG_SHELL_EXT_WAIT           1029
#define MSG_CANNOT_CREATE_OUTPUT     1030
#define MSG_CANNOT_OPEN_INPUT        1031
#define MSG_UNKNOWN_COMPRESSION      1032
#define MSG_BAD_CRC                  1033
#define MSG_INVALID_HEADER           1034
#define MSG_NO_MEMORY                1035
#define MSG_DISK_FULL                1036
#define MSG_READ_ERROR               1037
#define MSG_SHELL_EXT_BUSY           1039
#define MSG_SHELL_EXT_BUSY_2         1040
#define MSG_SHELL_EXT_BUSY_3         1041
#define MSG_SHELL_EXT_BUSY_4         1042
#define MSG_FM_EXT_BUSY              1044
#define MSG_FM_EXT_BUSY_2            1045
#define MSG_SHELL_EXT_OFF            1046
#define MSG_SHELL_EXT_OFF_2          1047
#define MSG_SHELL_EXT_OFF_3          1048
#define MSG_OLD_PRODUCT_FOUND        1049
#define MSG_FOLDER_READ_ONLY         1050
#define MSG_CONFIRM_OLD_DELETE       1051
#define MSG_WRONG_WINDOWS            1052
#define MSG_STUB_NOT_ACCESSIBLE      1053
#define MSG_STUB_NOT_CREATABLE       1054
#define MSG_USAGE                    1060
#define MSG_NO_DISK_SPACE            1061
#define MSG_SETUP_RUNNING            1062

#define MSG_TEXT_1004 "The %s folder cannot be created.\nEnter another folder or try another drive."
#define MSG_TEXT_1005 "Setup has not completed installing the software.\nAre you sure you want to cancel?"
#define MSG_TEXT_1006 "The software has not been successfully installed.\nYou must run Setup again before using the software."
#define MSG_TEXT_1013 "Cannot find required file %s.  Please verify that the file exists on the installation disk."
#define MSG_TEXT_1016 "\042Install To\042 folder must be different than \042Install From\042 folder.  Please specify a different folder."
#define MSG_TEXT_1017 "Cannot open %s"
#define MSG_TEXT_1018 "Cannot open %s for writing"
#define MSG_TEXT_1019 "Error writing to %s"
#define MSG_TEXT_1021 "Kestra Setup"
#define MSG_TEXT_1023 "Date/time stamp on the file %s does not match the date/time stamp on SETUP.EXE."
#define MSG_TEXT_1024 "Invalid destination folder"
#define MSG_TEXT_1025 "Setup cannot install Kestra now because another version of Kestra is running.  You can either\n\n1) Click the \042Cancel\042 button, and re-run the installation process later, when no Kestra windows are open\n\n2) Close all other Kestra windows, then click the \042Retry\042 button to install this new version of Kestra"
#define MSG_TEXT_1029 "Please wait a moment while the Kestra Shell Extension is unloaded."
#define MSG_TEXT_1030 "Can't create output file: %s"
#define MSG_TEXT_1031 "Can't open input file: %s"
#define MSG_TEXT_1032 "unknown compression"
#define MSG_TEXT_1033 "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx)"
#define MSG_TEXT_1034 "Invalid Zipfile Header"
#define MSG_TEXT_1035 "Insufficient memory"
#define MSG_TEXT_1036 "Error writing to %s.  Possible cause: disk full"
#define MSG_TEXT_1037 "Error reading %s.  Possible cause: bad disk"
#define MSG_TEXT_1039 "!Setup can not close the \042Kestra Shell Extension\042 from your existing version of Kestra.\n\nTo install this new version, you will need to\n\n"
#define MSG_TEXT_1040 "!\t1) Click \042Yes\042 to temporarily turn off the shell extension\n\t2) Shut down and restart Windows, then\n\t3) Run the installation procedure again\n\n"
#define MSG_TEXT_1041 "!Would you like to continue?\n\n"
#define MSG_TEXT_1042 "If you choose \042No\042, Setup will exit and you can continue to use your existing version of Kestra."
#define MSG_TEXT_1044 "!The Kestra installation procedure can not close the \042Kestra File Manager Extension\042 from your existing version of Kestra.\n\nTo install this new version of Kestra, please\n\n"
#define MSG_TEXT_1045 "1) Close the File Manager, or, if you are running a \042shell\042 like Norton Desktop, exit and restart Windows, then\n\n2) Run the Kestra installation procedure again"
#define MSG_TEXT_1046 "!\nKestra's Shell Extension has been temporarily turned off.\n\nTo continue installing Kestra, please\n\n"
#define MSG_TEXT_1047 "!\t1) Shut down and restart Windows, then\n\t2) Run the Kestra installation procedure again\n\n"
#define MSG_TEXT_1048 "The Kestra Shell Extension will automatically be turned on when you are done.\n"
#define MSG_TEXT_1049 "The selected \042Install To\042 folder contains the 16-bit Windows 3.1 version of Kestra.  The new 32-bit Kestra 8.0 and the old Windows 3.1 16-bit version of Kestra cannot be installed in the same folder.\n\nDo you want Setup to DELETE the 16-bit Windows 3.1 version of Kestra and install the new 32-bit Kestra to this folder?\n\nClick No to select a different \042Install To\042 folder or to cancel the installation."
#define MSG_TEXT_1050 "\042Install To\042 folder appears to be read-only or write protected.  Please specify a different folder."
#define MSG_TEXT_1051 "You have chosen to DELETE the 16-bit Windows 3.1 version of Kestra from the folder\n\n\t%s\n\nNote that you will no longer be able to run the Windows 3.1 version of Kestra from this folder, and that subsequently re-installing the Windows 3.1 version of Kestra into this folder will interfere with proper operation of the 32-bit Windows version of Kestra which you are now installing.\n\nDo you want to continue?"
#define MSG_TEXT_1052 "Kestra cannot be installed under this version of Windows"
#define MSG_TEXT_1053 "Setup cannot access the shell extension file for this version of Kestra"
#define MSG_TEXT_1054 "Setup cannot create the shell extension file for this version of Kestra"
#define MSG_TEXT_1060 "SETUP.EXE [/S] [/D=folder] [/LOG=file] [-argv0 path]\n\n/S\tquiet: no window at all; the exit code tells the result\n/D=folder\tthe install folder\n/LOG=file\tadd each step and message to this file\n-argv0 path\tthe path handed on to Kestra\n\nA folder with blanks goes in double quotes: /D=\042C:\\Program Files\\Kestra\042\n\nExit codes of a quiet run:\n0\tinstalled, Kestra started\n1\tWindows version not supported, or a switch not understood\n2\tanother copy of Kestra is running\n3\tinstall folder refused or cannot be created\n4\tdistribution incomplete or mixed\n5\tcopying or unpacking failed\n6\tFile Manager or shell extension cannot be released\n7\tKESTRA32.EXE cannot be put in place or started\n8\tanother Setup is running"
#define MSG_TEXT_1061 "Not enough space on drive %s for Kestra.\nSpace needed: %lu KB\nSpace free: %lu KB"
#define MSG_TEXT_1062 "Setup is already running."
// clang-format on
#endif
