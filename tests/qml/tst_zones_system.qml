import QtQuick
import QtTest
import "qrc:/qml/views"

// ZONES stores the setup in a registration memory; SYSTEM saves and opens projects,
// counts the catalogue and opens the manual.
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
            var field = findChild(zones, "registrationName")
            var kept = workstation.registrations[5].name
            workstation.bpm = 97
            field.text = "  Sunday Mass  "
            mouseClick(findChild(zones, "registration_4"))
            compare(workstation.registrations[4].name, "Sunday Mass")
            compare(Math.round(workstation.registrations[4].bpm), 97)
            compare(workstation.activeRegistrationSlot, 4)
            compare(field.text, "")
            waitForRendering(zones) // the memories' buttons are rebuilt after each store
            mouseClick(findChild(zones, "registration_5"))
            compare(workstation.registrations[5].name, kept)
            compare(workstation.activeRegistrationSlot, 5)
        }

        // A favourite more shows at once; the manual opens through the desktop (a stub here).
        function test_databaseLinesAndManual() {
            var detail = findChild(system, "catalogueDetail")
            var favourites = function () { return workstation.queryPresets("", "", true).length }
            var before = favourites()
            var id = workstation.queryPresets("", "", false).find(p => !p.isFavorite).id
            workstation.toggleFavoritePreset(id)
            compare(favourites(), before + 1)
            verify(detail.text.indexOf(" • " + (before + 1) + " favourites • ") > 0, detail.text)
            workstation.toggleFavoritePreset(id)
            verify(detail.text.indexOf(" • " + before + " favourites • ") > 0, detail.text)
            compare(findChild(system, "libraryLine").text.indexOf("8 registration memories • "), 0)
            mouseClick(findChild(system, "manualButton"))
            verify(/^Opened User Manual .*\.pdf$/.test(workstation.statusBanner), workstation.statusBanner)
        }

        // What the dialogs choose is saved and opened: a file, and a ".vks" folder.
        function test_saveAndOpenProjects() {
            var name = findChild(system, "projectName")
            var cases = [["saveProjectDialog", "openProjectDialog", "/set.json", "Evening Service"],
                         ["saveProjectDialog", "openProjectFolderDialog", "/Wedding.vks", "Wedding"]]
            for (var c of cases) {
                var path = testHome + c[2]
                name.text = c[3]
                workstation.bpm = 131
                mouseClick(findChild(system, "saveProjectButton"))
                var save = findChild(system, c[0])
                tryVerify(function () { return save.visible })
                // What the user picked, as the dialog hands it over.
                save.selectedFile = "file://" + path
                save.accepted()
                save.close()
                compare(workstation.statusBanner, "Saved Project: " + path)
                workstation.bpm = 88
                var open = findChild(system, c[1])
                open.open()
                if (c[1] === "openProjectFolderDialog") open.selectedFolder = "file://" + path
                else open.selectedFile = "file://" + path
                open.accepted()
                open.close()
                compare(workstation.statusBanner, "Loaded Project: " + c[3])
                compare(Math.round(workstation.bpm), 131)
            }
        }
    }
}
