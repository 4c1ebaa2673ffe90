// Identifiers of PATCH.EXE's resources, shared by the resource script and
// the program.
#pragma once

#define IDD_PROGRESS 101
#define IDI_UPDATER 2000
#define IDC_STATUS 1000
#define IDC_STATUS2 1001
