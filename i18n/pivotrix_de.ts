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
    <name>CommandLine</name>
    <message>
        <source>unexpected argument &apos;%1&apos;</source>
        <translation>unerwartetes Argument „%1“</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos;</source>
        <translation>unbekannte Option „%1“</translation>
    </message>
    <message>
        <source>option &apos;%1&apos; needs a value</source>
        <translation>Option „%1“ braucht einen Wert</translation>
    </message>
    <message>
        <source>Pivotrix Entertainment %1
Copyright (C) Pivotrix. All rights reserved.
</source>
        <translation>Pivotrix Entertainment %1
Copyright (C) Pivotrix. Alle Rechte vorbehalten.
</translation>
    </message>
    <message>
        <source>%1: %2
Try &apos;%1 --help&apos; for more information.
</source>
        <translation>%1: %2
„%1 --help“ zeigt weitere Informationen.
</translation>
    </message>
    <message>
        <source>Usage: %1 [--minimized] [--verbose]
       %1 CONTROL...
Ambient light for Pivotrix PRISM panels: finds them on the network, pairs with them and
streams Razer Chroma colours or a mirror of the screen to them, from the system tray.

  --minimized  start in the tray without showing the window
  --verbose    write the diagnostic log to standard error as well
  -h, --help   show this help and exit
  --version    show the version and exit

Controls of the running program, carried out in order (DEVICE: a device&apos;s id or name):
  --list                          list the paired devices, one a line
  --stream on|off DEVICE          switch a device&apos;s stream on or off
  --source razer|mirror DEVICE    stream Razer Chroma colours or the screen mirror
  --mirror-mode screen|dominant|continue DEVICE
                                  mirror the whole screen, its dominant colour or the
                                  screen&apos;s edge next to the panel
  --color-mode boosted|natural DEVICE
                                  the mirror&apos;s colours boosted or natural

Qt&apos;s standard options (-platform, -display, -style, ...) are accepted as well.
Settings live in ~/.local/share/PivotrixEntertainment/settings.json, the diagnostic log
beside them in PivotrixEntertainment.log.
</source>
        <translation>Aufruf: %1 [--minimized] [--verbose]
       %1 STEUERUNG...
Umgebungslicht für Pivotrix-PRISM-Paneele: findet sie im Netzwerk, koppelt sich mit ihnen und
sendet ihnen Razer-Chroma-Farben oder ein Abbild des Bildschirms, aus dem Infobereich.

  --minimized  im Infobereich starten, ohne das Fenster zu zeigen
  --verbose    das Diagnoseprotokoll auch auf die Standardfehlerausgabe schreiben
  -h, --help   diese Hilfe zeigen und beenden
  --version    die Version zeigen und beenden

Steuerung des laufenden Programms, der Reihe nach ausgeführt (GERÄT: Kennung oder Name eines Geräts):
  --list                          die gekoppelten Geräte auflisten, eines je Zeile
  --stream on|off GERÄT           die Übertragung an ein Gerät ein- oder ausschalten
  --source razer|mirror GERÄT     Razer-Chroma-Farben oder den Bildschirmspiegel senden
  --mirror-mode screen|dominant|continue GERÄT
                                  den ganzen Bildschirm, seine vorherrschende Farbe oder den
                                  Bildschirmrand neben dem Paneel spiegeln
  --color-mode boosted|natural GERÄT
                                  die Farben des Spiegels verstärkt oder natürlich

Qts Standardoptionen (-platform, -display, -style, ...) werden ebenfalls angenommen.
Die Einstellungen liegen in ~/.local/share/PivotrixEntertainment/settings.json, das
Diagnoseprotokoll daneben in PivotrixEntertainment.log.
</translation>
    </message>
    <message>
        <source>option &apos;%1&apos; needs %2 and a device</source>
        <translation>Option „%1“ braucht %2 und ein Gerät</translation>
    </message>
    <message>
        <source>option &apos;%1&apos; takes %2, not &apos;%3&apos;</source>
        <translation>Option „%1“ nimmt %2, nicht „%3“</translation>
    </message>
</context>
<context>
    <name>ControlClient</name>
    <message>
        <source>No session bus to reach Pivotrix Entertainment on: %1
</source>
        <translation>Kein Sitzungsbus, über den Pivotrix Entertainment erreichbar wäre: %1
</translation>
    </message>
    <message>
        <source>Pivotrix Entertainment is not running; start it first.
</source>
        <translation>Pivotrix Entertainment läuft nicht; bitte zuerst starten.
</translation>
    </message>
    <message>
        <source>Pivotrix Entertainment did not answer: %1
</source>
        <translation>Pivotrix Entertainment hat nicht geantwortet: %1
</translation>
    </message>
</context>
<context>
    <name>ControlService</name>
    <message>
        <source>No device named: give a device&apos;s id or name.</source>
        <translation>Kein Gerät genannt: bitte Kennung oder Namen eines Geräts angeben.</translation>
    </message>
    <message>
        <source>No paired device is called &apos;%1&apos;.</source>
        <translation>Kein gekoppeltes Gerät heißt „%1“.</translation>
    </message>
    <message>
        <source>%1 paired devices are called &apos;%2&apos;: give the id.</source>
        <translation>%1 gekoppelte Geräte heißen „%2“: bitte die Kennung angeben.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a source; use one of: %2.</source>
        <translation>„%1“ ist keine Quelle; möglich sind: %2.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a mirror mode; use one of: %2.</source>
        <translation>„%1“ ist kein Spiegelmodus; möglich sind: %2.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a colour mode; use one of: %2.</source>
        <translation>„%1“ ist kein Farbmodus; möglich sind: %2.</translation>
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
    <name>QHttp</name>
    <message>
        <source>Host requires authentication</source>
        <translation>Der Rechner verlangt eine Anmeldung</translation>
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
    <message>
        <source>Tick at least one colour to light up the panel</source>
        <translation>Kreuzen Sie mindestens eine Farbe an, damit das Paneel leuchtet</translation>
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
    <message>
        <source>Screen Season</source>
        <translation>Ganzer Bildschirm</translation>
    </message>
    <message>
        <source>Dominant Season</source>
        <translation>Vorherrschende Farbe</translation>
    </message>
    <message>
        <source>Continue Screen</source>
        <translation>Bildschirm fortsetzen</translation>
    </message>
    <message>
        <source>Top</source>
        <translation>Oben</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Links</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Rechts</translation>
    </message>
    <message>
        <source>Bottom</source>
        <translation>Unten</translation>
    </message>
    <message>
        <source>Top Left</source>
        <translation>Oben links</translation>
    </message>
    <message>
        <source>Top Right</source>
        <translation>Oben rechts</translation>
    </message>
    <message>
        <source>Bottom Left</source>
        <translation>Unten links</translation>
    </message>
    <message>
        <source>Bottom Right</source>
        <translation>Unten rechts</translation>
    </message>
    <message>
        <source>Boosted</source>
        <translation>Verstärkt</translation>
    </message>
    <message>
        <source>Natural</source>
        <translation>Natürlich</translation>
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
    <name>SearchDeviceEntry</name>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Type:</source>
        <translation>Typ:</translation>
    </message>
    <message>
        <source>Pivotrix PRISM</source>
        <translation>Pivotrix PRISM</translation>
    </message>
    <message>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <source>Unpair</source>
        <translation>Entkoppeln</translation>
    </message>
    <message>
        <source>Pair</source>
        <translation>Koppeln</translation>
    </message>
    <message>
        <source>The panel no longer accepts its key: unpair it and pair it again</source>
        <translation>Das Paneel nimmt seinen Schlüssel nicht mehr an: entkoppeln und erneut koppeln</translation>
    </message>
    <message>
        <source>The panel did not tell who it is: %1</source>
        <translation>Das Panel hat nicht mitgeteilt, welches es ist: %1</translation>
    </message>
    <message>
        <source>This is not a Pivotrix PRISM panel (model &quot;%1&quot;).</source>
        <translation>Das ist kein Pivotrix-PRISM-Panel (Modell „%1“).</translation>
    </message>
    <message>
        <source>The panel did not tell its serial number, so it cannot be told apart from others.</source>
        <translation>Das Panel hat seine Seriennummer nicht mitgeteilt und lässt sich daher nicht von anderen unterscheiden.</translation>
    </message>
    <message>
        <source>This panel is already paired as &quot;%1&quot;.</source>
        <translation>Dieses Panel ist bereits als „%1“ gekoppelt.</translation>
    </message>
    <message>
        <source>This panel is already paired.</source>
        <translation>Dieses Panel ist bereits gekoppelt.</translation>
    </message>
</context>
<context>
    <name>SearchPivotrixDevicePage</name>
    <message>
        <source>Device Search</source>
        <translation>Gerätesuche</translation>
    </message>
    <message>
        <source>Click &amp;quot;Scan for devices&amp;quot; button </source>
        <translation>Klicken Sie auf „Nach Geräten suchen“, </translation>
    </message>
    <message>
        <source>to search Pivotrix devices </source>
        <translation>um Pivotrix-Geräte </translation>
    </message>
    <message>
        <source>in your Wi-Fi network</source>
        <translation>in Ihrem WLAN zu finden</translation>
    </message>
    <message>
        <source>Scan for devices</source>
        <translation>Nach Geräten suchen</translation>
    </message>
    <message>
        <source>Enter the IP address or host name of the panel.</source>
        <translation>Geben Sie die IP-Adresse oder den Hostnamen des Panels ein.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid IP address.</source>
        <translation>„%1“ ist keine gültige IP-Adresse.</translation>
    </message>
    <message>
        <source>%1 is not the address of a single device.</source>
        <translation>%1 ist nicht die Adresse eines einzelnen Geräts.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IP address or host name.</source>
        <translation>„%1“ ist weder eine IP-Adresse noch ein Hostname.</translation>
    </message>
    <message>
        <source>The name &quot;%1&quot; could not be found.</source>
        <translation>Der Name „%1“ wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>%1 is not a Pivotrix PRISM panel (model &quot;%2&quot;).</source>
        <translation>%1 ist kein Pivotrix-PRISM-Panel (Modell „%2“).</translation>
    </message>
    <message>
        <source>Nothing answers at %1. Check the address, and that the panel is on and reachable from this PC.</source>
        <translation>Unter %1 antwortet nichts. Prüfen Sie die Adresse und ob das Panel eingeschaltet und von diesem PC aus erreichbar ist.</translation>
    </message>
    <message>
        <source>%1 answers, but not as a Pivotrix PRISM panel does.</source>
        <translation>%1 antwortet, aber nicht wie ein Pivotrix-PRISM-Panel.</translation>
    </message>
    <message>
        <source>IP address or host name</source>
        <translation>IP-Adresse oder Hostname</translation>
    </message>
    <message>
        <source>Add by address</source>
        <translation>Über Adresse hinzufügen</translation>
    </message>
    <message>
        <source>Scanning for Pivotrix devices...</source>
        <translation>Suche nach Pivotrix-Geräten...</translation>
    </message>
    <message>
        <source>No new Pivotrix device found. Make sure it is on the same network as this PC and that multicast (UDP port 5353) is not blocked, or add it by its address.</source>
        <translation>Kein neues Pivotrix-Gerät gefunden. Stellen Sie sicher, dass es im selben Netzwerk wie dieser PC ist und Multicast (UDP-Port 5353) nicht blockiert wird, oder fügen Sie es über seine Adresse hinzu.</translation>
    </message>
    <message numerus="yes">
        <source>%n new Pivotrix device(s) found.</source>
        <translation>
            <numerusform>%n neues Pivotrix-Gerät gefunden.</numerusform>
            <numerusform>%n neue Pivotrix-Geräte gefunden.</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 is already paired as &quot;%2&quot;.</source>
        <translation>%1 ist bereits als „%2“ gekoppelt.</translation>
    </message>
    <message>
        <source>Looking for a Pivotrix device at %1...</source>
        <translation>Suche nach einem Pivotrix-Gerät unter %1...</translation>
    </message>
    <message>
        <source>Found &quot;%1&quot; at %2. Press Pair on its row to pair it.</source>
        <translation>„%1“ unter %2 gefunden. Klicken Sie in seiner Zeile auf „Koppeln“, um es zu koppeln.</translation>
    </message>
    <message>
        <source>%1 answers but does not say which panel it is (its mDNS answer does not reach this PC). Press Pair on its row: the panel is identified once it is paired.</source>
        <translation>%1 antwortet, sagt aber nicht, welches Panel es ist (seine mDNS-Antwort erreicht diesen PC nicht). Klicken Sie in seiner Zeile auf „Koppeln“: Das Panel wird beim Koppeln erkannt.</translation>
    </message>
</context>
<context>
    <name>SearchPivotrixDevicesPage</name>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
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
    <message>
        <source>Pivotrix Entertainment was installed by your system&apos;s package manager, which also brings its updates.</source>
        <translation>Pivotrix Entertainment wurde von der Paketverwaltung Ihres Systems installiert, die auch seine Aktualisierungen bringt.</translation>
    </message>
</context>
</TS>
