import QtQuick
import QtTest
import "qrc:/qml/views"

// ZONES stores the setup in a registration memory; SYSTEM saves and opens projects
// and opens the manual.
Item {
    width: 1300
    height: 1100

    WorkstationView { id: zones; width: parent.width; height: 650 }
    SettingsView { id: system; y: 650; width: parent.width; height: 450 }

    TestCase {
        name: "ZonesAndSystem"
        when: windowShown

        // A typed name (trimmed) replaces the memory's and the field empties; none keeps it.
        function test_storeToARegistration() {
            var field = findChild(zones, "registrationName"), kept = workstation.registrations[5].name
            workstation.bpm = 97
            field.text = "  Sunday Mass  "
            mouseClick(findChild(zones, "registration_4"))
            var stored = workstation.registrations[4]
            compare([stored.name, Math.round(stored.bpm), workstation.activeRegistrationSlot, field.text], ["Sunday Mass", 97, 4, ""])
            waitForRendering(zones) // the memories' buttons are rebuilt after each store
            mouseClick(findChild(zones, "registration_5"))
            compare([workstation.registrations[5].name, workstation.activeRegistrationSlot], [kept, 5])
        }

        // The manual opens through the desktop (a stub here).
        function test_databaseLinesAndManual() {
            compare(findChild(system, "libraryLine").text.indexOf("8 registration memories • "), 0)
            mouseClick(findChild(system, "manualButton"))
            verify(/^Opened User Manual .*\.pdf$/.test(workstation.statusBanner), workstation.statusBanner)
        }

        // What the dialogs choose is saved and opened: a file, and a ".vks" folder.
        function test_saveAndOpenProjects() {
            for (var c of [["openProjectDialog", "/set.json", "Evening Service"], ["openProjectFolderDialog", "/Wedding.vks", "Wedding"]]) {
                var path = testHome + c[1]
                findChild(system, "projectName").text = c[2]
                workstation.bpm = 131
                mouseClick(findChild(system, "saveProjectButton"))
                var save = findChild(system, "saveProjectDialog")
                tryVerify(function () { return save.visible })
                save.selectedFile = "file://" + path
                save.accepted()
                save.close()
                compare(workstation.statusBanner, "Saved Project: " + path)
                workstation.bpm = 88
                var open = findChild(system, c[0])
                open.open()
                if (c[0] === "openProjectFolderDialog") open.selectedFolder = "file://" + path
                else open.selectedFile = "file://" + path
                open.accepted()
                open.close()
                compare([workstation.statusBanner, Math.round(workstation.bpm)], ["Loaded Project: " + c[2], 131])
            }
        }
    }
}
