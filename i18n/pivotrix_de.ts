<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Pivotrix Entertainment</source>
        <translation>Pivotrix Entertainment</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>Copyright © Pivotrix. All rights reserved.</source>
        <translation>Copyright © Pivotrix. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>ColorChallengeDialog</name>
    <message>
        <source>Pairing</source>
        <translation>Kopplung</translation>
    </message>
    <message>
        <source>Look at your PRISM
 and select color it displays</source>
        <translation>Schauen Sie auf Ihr PRISM
 und wählen Sie die angezeigte Farbe</translation>
    </message>
    <message>
        <source>Please, try again</source>
        <translation>Bitte versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Look at your PRISM
 and select the color it displays</source>
        <translation>Schauen Sie auf Ihr PRISM
 und wählen Sie die angezeigte Farbe</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Timeout</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>Not Supported</source>
        <translation>Nicht unterstützt</translation>
    </message>
    <message>
        <source>Streaming feature unavailable on this device</source>
        <translation>Streaming ist auf diesem Gerät nicht verfügbar</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>DeviceListRazerPage</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
</context>
<context>
    <name>DeviceListScreenMirrorPage</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Pivotrix Entertainment</source>
        <translation>Pivotrix Entertainment</translation>
    </message>
    <message>
        <source>Razer Chroma</source>
        <translation>Razer Chroma</translation>
    </message>
    <message>
        <source>Screen Mirror</source>
        <translation>Bildschirmspiegel</translation>
    </message>
    <message>
        <source>Pivotrix Devices</source>
        <translation>Pivotrix-Geräte</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Optionen</translation>
    </message>
    <message>
        <source>Launch On Startup</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Check For Update</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Ausblenden</translation>
    </message>
</context>
<context>
    <name>RazerDevicePage</name>
    <message>
        <source>Master Pixel</source>
        <translation>Hauptpixel</translation>
    </message>
    <message>
        <source>Pixel 1</source>
        <translation>Pixel 1</translation>
    </message>
    <message>
        <source>Pixel 2</source>
        <translation>Pixel 2</translation>
    </message>
    <message>
        <source>Pixel 3</source>
        <translation>Pixel 3</translation>
    </message>
    <message>
        <source>Pixel 4</source>
        <translation>Pixel 4</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>Richtung</translation>
    </message>
    <message>
        <source>No Effect</source>
        <translation>Kein Effekt</translation>
    </message>
    <message>
        <source>Effect</source>
        <translation>Effekt</translation>
    </message>
    <message>
        <source>Visualize</source>
        <translation>Visualisieren</translation>
    </message>
</context>
<context>
    <name>RazerDeviceTabLabel</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
</context>
<context>
    <name>RazerPreviewPage</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Pair your Pivotrix Device to enjoy </source>
        <translation>Koppeln Sie Ihr Pivotrix-Gerät, um es zu genießen </translation>
    </message>
    <message>
        <source>Unkwnows issue</source>
        <translation>Unbekanntes Problem</translation>
    </message>
    <message>
        <source>Pair your Pivotrix Device to enjoy</source>
        <translation>Koppeln Sie Ihr Pivotrix-Gerät, um es zu genießen</translation>
    </message>
    <message>
        <source>Install Razer Synapse to ligth up Pivotrix device</source>
        <translation>Installieren Sie Razer Synapse, um das Pivotrix-Gerät zu beleuchten</translation>
    </message>
    <message>
        <source>Enable Pivotrix app in Razer Synapse</source>
        <translation>Aktivieren Sie die Pivotrix-App in Razer Synapse</translation>
    </message>
</context>
<context>
    <name>ScreenMirrorDevicePage</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Select Monitor</source>
        <translation>Monitor auswählen</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Modus</translation>
    </message>
    <message>
        <source>Colors</source>
        <translation>Farben</translation>
    </message>
    <message>
        <source>Effect</source>
        <translation>Effekt</translation>
    </message>
    <message>
        <source>PRISM Location</source>
        <translation>Position des PRISM</translation>
    </message>
    <message>
        <source>Visualize</source>
        <translation>Visualisieren</translation>
    </message>
</context>
<context>
    <name>ScreenMirrorPreview</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Pair your Pivotrix Device to enjoy</source>
        <translation>Koppeln Sie Ihr Pivotrix-Gerät, um es zu genießen</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Software-Aktualisierung</translation>
    </message>
    <message>
        <source>Checking...</source>
        <translation>Suche läuft …</translation>
    </message>
    <message>
        <source>An error occurred when trying to retrieve update information, please try again later.</source>
        <translation>Beim Abrufen der Aktualisierungsinformationen ist ein Fehler aufgetreten. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>You have the latest version of Pivotrix Entertainment</source>
        <translation>Sie haben die neueste Version von Pivotrix Entertainment</translation>
    </message>
    <message>
        <source>&lt;strong&gt;A new version is available.&lt;/strong&gt;&lt;br/&gt;Pivotrix Entertainment %1 can be &lt;a href=&quot;%2&quot;&gt;downloaded here&lt;/a&gt;.</source>
        <translation>&lt;strong&gt;Eine neue Version ist verfügbar.&lt;/strong&gt;&lt;br/&gt;Pivotrix Entertainment %1 kann &lt;a href=&quot;%2&quot;&gt;hier heruntergeladen werden&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>&lt;strong&gt;A new version is available.&lt;/strong&gt;&lt;br/&gt;Pivotrix Entertainment %1 has been released.</source>
        <translation>&lt;strong&gt;Eine neue Version ist verfügbar.&lt;/strong&gt;&lt;br/&gt;Pivotrix Entertainment %1 ist erschienen.</translation>
    </message>
</context>
</TS>
