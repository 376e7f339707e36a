// Resource ids of the fake program of the launcher's tests.
#pragma once

#define IDD_FAKE 100
#define IDC_FOLDER 101
#define IDC_OVERWRITE 102
#define IDS_DONE 200
