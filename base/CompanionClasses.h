// Window classes of the companion programs. A window of any of them proves
// the programs are installed; the hand-off finds its program's window by its
// class. Shared by the install check and the transfer hand-off.
#pragma once

constexpr char kUploadCompanionClass[] = "tavrine_class_upload";
constexpr char kDownloadCompanionClass[] = "tavrine_class_down";
constexpr char kExplorerCompanionClass[] = "tavrine_class_explorer";

constexpr const char* kCompanionClasses[] = {kDownloadCompanionClass, kUploadCompanionClass,
                                             kExplorerCompanionClass};
