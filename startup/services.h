#pragma once

namespace tarvic {

class DrivePaths;
class FilePicker;
class FolderPicker;
class MessageBoxes;
class ProgramStarter;
class SettingsStore;

// The platform services the program runs on; main() wires the real ones, tests their own.
struct Services
{
    DrivePaths &paths;
    ProgramStarter &starter;
    MessageBoxes &boxes;
    SettingsStore &settings;
    FilePicker &filePicker;
    FolderPicker &folderPicker;
};

} // namespace tarvic
