<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AIContent</name>
    <message>
        <source>Key saved</source>
        <translation>Schlüssel gespeichert</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Not working</source>
        <translation>Funktioniert nicht</translation>
    </message>
    <message>
        <source>AI Research</source>
        <translation>KI-Recherche</translation>
    </message>
    <message>
        <source>Zelvane uses AI to research meeting attendees and prepare briefings. Choose any provider you already have an account with.</source>
        <translation>Zelvane recherchiert mit KI die Teilnehmer Ihrer Meetings und bereitet Briefings vor. Wählen Sie einen Anbieter, bei dem Sie bereits ein Konto haben.</translation>
    </message>
    <message>
        <source>1. Choose your AI provider</source>
        <translation>1. KI-Anbieter wählen</translation>
    </message>
    <message>
        <source>2. Get your API key</source>
        <translation>2. API-Schlüssel besorgen</translation>
    </message>
    <message>
        <source>3. Paste your API key</source>
        <translation>3. API-Schlüssel einfügen</translation>
    </message>
    <message>
        <source>Test Connection</source>
        <translation>Verbindung testen</translation>
    </message>
    <message>
        <source>Testing...</source>
        <translation>Wird getestet …</translation>
    </message>
</context>
<context>
    <name>AISettingsModel</name>
    <message>
        <source>Failed — check your key</source>
        <translation>Fehlgeschlagen – prüfen Sie Ihren Schlüssel</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Fehler: %1</translation>
    </message>
    <message>
        <source>Paste your %1 API key</source>
        <translation>Ihren API-Schlüssel für %1 einfügen</translation>
    </message>
    <message>
        <source>Your API key is stored securely in your system keyring. It is never sent to Zelvane — only directly to %1.</source>
        <translation>Ihr API-Schlüssel wird sicher im Schlüsselbund Ihres Systems gespeichert. Er wird nie an Zelvane gesendet – nur direkt an %1.</translation>
    </message>
    <message>
        <source>Success — you&apos;re all set!</source>
        <translation>Erfolgreich – alles bereit!</translation>
    </message>
</context>
<context>
    <name>AccountsContent</name>
    <message>
        <source>Remove %1?</source>
        <translation>%1 entfernen?</translation>
    </message>
    <message>
        <source>Zelvane stops reminding you of its meetings. You can connect it again later.</source>
        <translation>Zelvane erinnert Sie nicht mehr an dessen Meetings. Sie können es später wieder verbinden.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Waiting for Slack… Finish signing in in your browser.</source>
        <translation>Warten auf Slack … Schließen Sie die Anmeldung in Ihrem Browser ab.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Accounts</source>
        <translation>Konten</translation>
    </message>
    <message>
        <source>Manage your calendar and messaging connections.</source>
        <translation>Verwalten Sie Ihre Kalender- und Messaging-Verbindungen.</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Add Account</source>
        <translation>Konto hinzufügen</translation>
    </message>
    <message>
        <source>No accounts connected</source>
        <translation>Keine Konten verbunden</translation>
    </message>
    <message>
        <source>Slack Connected</source>
        <translation>Slack verbunden</translation>
    </message>
    <message>
        <source>Connect Slack</source>
        <translation>Slack verbinden</translation>
    </message>
    <message>
        <source>Meeting prep includes Slack message context</source>
        <translation>Die Meeting-Vorbereitung bezieht Slack-Nachrichten ein</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Optional — adds Slack context to meeting briefings</source>
        <translation>Optional – ergänzt Briefings um Kontext aus Slack</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Backend</source>
        <translation>Backend</translation>
    </message>
    <message>
        <source>Backend address</source>
        <translation>Backend-Adresse</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>ZELVANE_BACKEND_ORIGIN is set for this run, so this address is not used now.</source>
        <translation>ZELVANE_BACKEND_ORIGIN ist für diesen Start gesetzt, deshalb wird diese Adresse jetzt nicht verwendet.</translation>
    </message>
    <message>
        <source>Leave it empty for Zelvane&apos;s own backend. Calendars connected through another backend must be connected again after a change.</source>
        <translation>Leer lassen für das Backend von Zelvane. Über ein anderes Backend verbundene Kalender müssen nach einer Änderung neu verbunden werden.</translation>
    </message>
</context>
<context>
    <name>AccountsModel</name>
    <message>
        <source>The Slack sign-in could not be started.</source>
        <translation>Die Anmeldung bei Slack konnte nicht gestartet werden.</translation>
    </message>
</context>
<context>
    <name>AddFeedModel</name>
    <message>
        <source>The calendar feed could not be added.</source>
        <translation>Der Kalender-Feed konnte nicht hinzugefügt werden.</translation>
    </message>
</context>
<context>
    <name>AppController</name>
    <message>
        <source>Zelvane %1 is ready to install</source>
        <translation>Zelvane %1 ist bereit zur Installation</translation>
    </message>
    <message>
        <source>The update was downloaded and verified. Choose Install to install it now.</source>
        <translation>Das Update wurde heruntergeladen und geprüft. Wählen Sie „Installieren“, um es jetzt zu installieren.</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
    <message>
        <source>Zelvane is running in the background</source>
        <translation>Zelvane läuft im Hintergrund</translation>
    </message>
    <message>
        <source>It reminds you of your meetings without a tray icon. To open Zelvane, start it again from your applications menu.</source>
        <translation>Zelvane erinnert Sie auch ohne Symbol im Systembereich an Ihre Meetings. Um Zelvane zu öffnen, starten Sie es erneut über Ihr Anwendungsmenü.</translation>
    </message>
    <message>
        <source>Welcome to Zelvane</source>
        <translation>Willkommen bei Zelvane</translation>
    </message>
    <message>
        <source>Meeting Brief</source>
        <translation>Meeting-Briefing</translation>
    </message>
    <message>
        <source>Battery Critical</source>
        <translation>Akku kritisch</translation>
    </message>
</context>
<context>
    <name>AttendeeResearchService</name>
    <message numerus="yes">
        <source>Meeting with %n known attendee(s). Research loaded from cache.</source>
        <translation>
            <numerusform>Meeting mit %n bekannten Teilnehmer. Recherche aus dem Zwischenspeicher geladen.</numerusform>
            <numerusform>Meeting mit %n bekannten Teilnehmern. Recherche aus dem Zwischenspeicher geladen.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>AttendeeRow</name>
    <message>
        <source>%1 at %2</source>
        <comment>a role at a company</comment>
        <translation>%1 bei %2</translation>
    </message>
</context>
<context>
    <name>BackendAddressModel</name>
    <message>
        <source>Enter an address starting with https:// (http:// only for this computer), without a path.</source>
        <translation>Geben Sie eine Adresse ein, die mit https:// beginnt (http:// nur für diesen Computer), ohne Pfad.</translation>
    </message>
</context>
<context>
    <name>BackendError</name>
    <message>
        <source>HTTP error %1</source>
        <translation>HTTP-Fehler %1</translation>
    </message>
    <message>
        <source>Invalid server response</source>
        <translation>Ungültige Antwort des Servers</translation>
    </message>
    <message>
        <source>SMS failed</source>
        <translation>SMS fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>BannerButton</name>
    <message>
        <source>Update Now</source>
        <translation>Jetzt aktualisieren</translation>
    </message>
</context>
<context>
    <name>BatteryAlertView</name>
    <message>
        <source>Battery Critical</source>
        <translation>Akku kritisch</translation>
    </message>
    <message>
        <source>Your computer is at 1% battery. Plug in now.</source>
        <translation>Ihr Computer hat nur noch 1 % Akku. Schließen Sie ihn jetzt an.</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>BodyLimitError</name>
    <message>
        <source>The server&apos;s answer was too large and was not read</source>
        <translation>Die Antwort des Servers war zu groß und wurde nicht gelesen</translation>
    </message>
</context>
<context>
    <name>BriefPreviewView</name>
    <message numerus="yes">
        <source>%n second ago</source>
        <translation>
            <numerusform>vor %n Sekunde</numerusform>
            <numerusform>vor %n Sekunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n seconds ago</source>
        <translation>
            <numerusform>vor %n Sekunde</numerusform>
            <numerusform>vor %n Sekunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n second</source>
        <translation>
            <numerusform>in %n Sekunde</numerusform>
            <numerusform>in %n Sekunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n seconds</source>
        <translation>
            <numerusform>in %n Sekunde</numerusform>
            <numerusform>in %n Sekunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n minute ago</source>
        <translation>
            <numerusform>vor %n Minute</numerusform>
            <numerusform>vor %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n minutes ago</source>
        <translation>
            <numerusform>vor %n Minute</numerusform>
            <numerusform>vor %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n minute</source>
        <translation>
            <numerusform>in %n Minute</numerusform>
            <numerusform>in %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n minutes</source>
        <translation>
            <numerusform>in %n Minute</numerusform>
            <numerusform>in %n Minuten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hour ago</source>
        <translation>
            <numerusform>vor %n Stunde</numerusform>
            <numerusform>vor %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n hours ago</source>
        <translation>
            <numerusform>vor %n Stunde</numerusform>
            <numerusform>vor %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n hour</source>
        <translation>
            <numerusform>in %n Stunde</numerusform>
            <numerusform>in %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n hours</source>
        <translation>
            <numerusform>in %n Stunde</numerusform>
            <numerusform>in %n Stunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n day ago</source>
        <translation>
            <numerusform>vor %n Tag</numerusform>
            <numerusform>vor %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n days ago</source>
        <translation>
            <numerusform>vor %n Tag</numerusform>
            <numerusform>vor %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n day</source>
        <translation>
            <numerusform>in %n Tag</numerusform>
            <numerusform>in %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n days</source>
        <translation>
            <numerusform>in %n Tag</numerusform>
            <numerusform>in %n Tagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n week ago</source>
        <translation>
            <numerusform>vor %n Woche</numerusform>
            <numerusform>vor %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n weeks ago</source>
        <translation>
            <numerusform>vor %n Woche</numerusform>
            <numerusform>vor %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n week</source>
        <translation>
            <numerusform>in %n Woche</numerusform>
            <numerusform>in %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n weeks</source>
        <translation>
            <numerusform>in %n Woche</numerusform>
            <numerusform>in %n Wochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n month ago</source>
        <translation>
            <numerusform>vor %n Monat</numerusform>
            <numerusform>vor %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n months ago</source>
        <translation>
            <numerusform>vor %n Monat</numerusform>
            <numerusform>vor %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n month</source>
        <translation>
            <numerusform>in %n Monat</numerusform>
            <numerusform>in %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n months</source>
        <translation>
            <numerusform>in %n Monat</numerusform>
            <numerusform>in %n Monaten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n year ago</source>
        <translation>
            <numerusform>vor %n Jahr</numerusform>
            <numerusform>vor %n Jahren</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n years ago</source>
        <translation>
            <numerusform>vor %n Jahr</numerusform>
            <numerusform>vor %n Jahren</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n year</source>
        <translation>
            <numerusform>in %n Jahr</numerusform>
            <numerusform>in %n Jahren</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>in %n years</source>
        <translation>
            <numerusform>in %n Jahr</numerusform>
            <numerusform>in %n Jahren</numerusform>
        </translation>
    </message>
    <message>
        <source>now</source>
        <translation>gerade eben</translation>
    </message>
    <message>
        <source>yesterday</source>
        <translation>gestern</translation>
    </message>
    <message>
        <source>tomorrow</source>
        <translation>morgen</translation>
    </message>
    <message>
        <source>last week</source>
        <translation>letzte Woche</translation>
    </message>
    <message>
        <source>next week</source>
        <translation>nächste Woche</translation>
    </message>
    <message>
        <source>last month</source>
        <translation>letzten Monat</translation>
    </message>
    <message>
        <source>next month</source>
        <translation>nächsten Monat</translation>
    </message>
    <message>
        <source>last year</source>
        <translation>letztes Jahr</translation>
    </message>
    <message>
        <source>next year</source>
        <translation>nächstes Jahr</translation>
    </message>
    <message>
        <source>Prepared %1</source>
        <comment>how long ago a brief was prepared</comment>
        <translation>Vorbereitet %1</translation>
    </message>
    <message>
        <source>Join Meeting</source>
        <translation>Meeting beitreten</translation>
    </message>
    <message>
        <source>Join %1</source>
        <comment>a video service</comment>
        <translation>%1 beitreten</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>BrowserError</name>
    <message>
        <source>No web browser could be opened. Set a default browser and try again.</source>
        <translation>Es konnte kein Webbrowser geöffnet werden. Legen Sie einen Standardbrowser fest und versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>BuildTreeCopy</name>
    <message>
        <source>This copy of Zelvane was built from source, so it does not update itself. To get Zelvane %1, update your source tree and build it again.</source>
        <translation>Diese Kopie von Zelvane wurde aus dem Quellcode gebaut und aktualisiert sich deshalb nicht selbst. Um Zelvane %1 zu erhalten, aktualisieren Sie Ihren Quellcode und bauen Sie ihn neu.</translation>
    </message>
</context>
<context>
    <name>CalendarEvent</name>
    <message numerus="yes">
        <source>Started %n min ago • </source>
        <translation>
            <numerusform>Seit %n Min. begonnen • </numerusform>
            <numerusform>Seit %n Min. begonnen • </numerusform>
        </translation>
    </message>
    <message>
        <source>NOW • </source>
        <translation>JETZT • </translation>
    </message>
    <message>
        <source>Starting in less than a minute • </source>
        <translation>Beginnt in weniger als einer Minute • </translation>
    </message>
    <message numerus="yes">
        <source>Starting in %n min • </source>
        <translation>
            <numerusform>Beginnt in %n Min. • </numerusform>
            <numerusform>Beginnt in %n Min. • </numerusform>
        </translation>
    </message>
</context>
<context>
    <name>CalendarFeedForm</name>
    <message>
        <source>https://…</source>
        <translation>https://…</translation>
    </message>
    <message>
        <source>An https:// or webcal:// address, or a calendar file on this computer.</source>
        <translation>Eine https://- oder webcal://-Adresse oder eine Kalenderdatei auf diesem Computer.</translation>
    </message>
    <message>
        <source>The feed&apos;s own name</source>
        <translation>Der eigene Name des Feeds</translation>
    </message>
    <message>
        <source>Add Calendar Feed</source>
        <translation>Kalender-Feed hinzufügen</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Choose File…</source>
        <translation>Datei wählen …</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Reading the calendar feed…</source>
        <translation>Kalender-Feed wird gelesen …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Add Feed</source>
        <translation>Feed hinzufügen</translation>
    </message>
    <message>
        <source>Choose a Calendar File</source>
        <translation>Kalenderdatei wählen</translation>
    </message>
    <message>
        <source>Calendars (*.ics *.ical *.ifb);;All files (*)</source>
        <translation>Kalender (*.ics *.ical *.ifb);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Adding…</source>
        <translation>Wird hinzugefügt …</translation>
    </message>
</context>
<context>
    <name>CalendarProviders</name>
    <message>
        <source>Calendar Feed</source>
        <translation>Kalender-Feed</translation>
    </message>
    <message>
        <source>Desktop Calendars</source>
        <translation>Desktop-Kalender</translation>
    </message>
</context>
<context>
    <name>ConfirmationDialog</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>DecodingError</name>
    <message>
        <source>The data couldn&apos;t be read because it isn&apos;t in the correct format.</source>
        <translation>Die Daten konnten nicht gelesen werden, da sie nicht das richtige Format haben.</translation>
    </message>
</context>
<context>
    <name>DesktopCalendarSource</name>
    <message>
        <source>On This Computer</source>
        <translation>Auf diesem Computer</translation>
    </message>
</context>
<context>
    <name>DesktopCalendars</name>
    <message>
        <source>Evolution Data Server is not running on this desktop</source>
        <translation>Evolution Data Server läuft auf diesem Desktop nicht</translation>
    </message>
</context>
<context>
    <name>FeedError</name>
    <message>
        <source>The calendar feed could not be reached.</source>
        <translation>Der Kalender-Feed ist nicht erreichbar.</translation>
    </message>
    <message>
        <source>The calendar feed answered with HTTP status %1.</source>
        <translation>Der Kalender-Feed antwortete mit HTTP-Status %1.</translation>
    </message>
    <message>
        <source>The address does not lead to an iCalendar feed.</source>
        <translation>Die Adresse führt nicht zu einem iCalendar-Feed.</translation>
    </message>
    <message>
        <source>The calendar feed is larger than 20 MB.</source>
        <translation>Der Kalender-Feed ist größer als 20 MB.</translation>
    </message>
    <message>
        <source>Use an https:// or webcal:// address, or a file on this computer.</source>
        <translation>Verwenden Sie eine https://- oder webcal://-Adresse oder eine Datei auf diesem Computer.</translation>
    </message>
    <message>
        <source>The calendar file could not be read.</source>
        <translation>Die Kalenderdatei konnte nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The calendar feed is malformed: its entries are nested too deeply.</source>
        <translation>Der Kalender-Feed ist fehlerhaft: Seine Einträge sind zu tief verschachtelt.</translation>
    </message>
    <message>
        <source>The calendar feed repeats its events too often to be read. Ask its owner to simplify the recurring events.</source>
        <translation>Der Kalender-Feed wiederholt seine Termine zu oft, um gelesen zu werden. Bitten Sie seinen Eigentümer, die Serientermine zu vereinfachen.</translation>
    </message>
    <message>
        <source>The calendar feed took longer than a minute to arrive.</source>
        <translation>Der Kalender-Feed brauchte länger als eine Minute.</translation>
    </message>
    <message>
        <source>Reading the calendar feed was stopped.</source>
        <translation>Das Lesen des Kalender-Feeds wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The feed&apos;s address is missing from the keyring.</source>
        <translation>Die Adresse des Feeds fehlt im Schlüsselbund.</translation>
    </message>
</context>
<context>
    <name>FeedPoller</name>
    <message>
        <source>Calendar Feed</source>
        <translation>Kalender-Feed</translation>
    </message>
</context>
<context>
    <name>GeneralContent</name>
    <message>
        <source>Startup</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Open at login</source>
        <translation>Bei der Anmeldung öffnen</translation>
    </message>
    <message>
        <source>Alert style</source>
        <translation>Art der Erinnerung</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Configure reminders and alert preferences.</source>
        <translation>Erinnerungen und Benachrichtigungen einrichten.</translation>
    </message>
    <message>
        <source>Alerts</source>
        <translation>Erinnerungen</translation>
    </message>
    <message>
        <source>Play sound</source>
        <translation>Ton abspielen</translation>
    </message>
    <message>
        <source>Respect Do Not Disturb</source>
        <translation>„Nicht stören“ beachten</translation>
    </message>
    <message>
        <source>Updates</source>
        <translation>Updates</translation>
    </message>
    <message>
        <source>Automatically install updates</source>
        <translation>Updates automatisch installieren</translation>
    </message>
    <message>
        <source>Check for Updates</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>Check Now</source>
        <translation>Jetzt suchen</translation>
    </message>
    <message>
        <source>Automatic updates are not available in this build of Zelvane.</source>
        <translation>Automatische Updates sind in diesem Build von Zelvane nicht verfügbar.</translation>
    </message>
    <message>
        <source>Connect an account to configure reminders.</source>
        <translation>Verbinden Sie ein Konto, um Erinnerungen einzurichten.</translation>
    </message>
    <message>
        <source>Calendars</source>
        <translation>Kalender</translation>
    </message>
    <message>
        <source>Reminders</source>
        <translation>Erinnerungszeiten</translation>
    </message>
    <message>
        <source>Loading calendars...</source>
        <translation>Kalender werden geladen …</translation>
    </message>
    <message>
        <source>Remove %1</source>
        <comment>a reminder time</comment>
        <translation>%1 entfernen</translation>
    </message>
    <message>
        <source>Add reminder</source>
        <translation>Erinnerung hinzufügen</translation>
    </message>
</context>
<context>
    <name>GeneralSettingsModel</name>
    <message numerus="yes">
        <source>All %n active</source>
        <comment>calendars of an account</comment>
        <translation>
            <numerusform>%n aktiv</numerusform>
            <numerusform>Alle %n aktiv</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n active</source>
        <comment>calendars of an account</comment>
        <translation>
            <numerusform>%1 von %n aktiv</numerusform>
            <numerusform>%1 von %n aktiv</numerusform>
        </translation>
    </message>
    <message>
        <source>Full-screen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Notification only</source>
        <translation>Nur Benachrichtigung</translation>
    </message>
</context>
<context>
    <name>InstallError</name>
    <message>
        <source>No software installer is available. Install the downloaded package %1 with your package manager.</source>
        <translation>Es ist keine Softwareverwaltung verfügbar. Installieren Sie das heruntergeladene Paket %1 mit Ihrer Paketverwaltung.</translation>
    </message>
    <message>
        <source>Zelvane %1 was installed but did not start. Start it from your applications menu.</source>
        <translation>Zelvane %1 wurde installiert, ist aber nicht gestartet. Starten Sie es über Ihr Anwendungsmenü.</translation>
    </message>
    <message>
        <source>The package manager refused the update: %1</source>
        <translation>Die Paketverwaltung hat das Update abgelehnt: %1</translation>
    </message>
    <message>
        <source>The package manager gave no transaction.</source>
        <translation>Die Paketverwaltung hat keine Transaktion geliefert.</translation>
    </message>
    <message>
        <source>The update was cancelled.</source>
        <translation>Das Update wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The package manager could not install the update.</source>
        <translation>Die Paketverwaltung konnte das Update nicht installieren.</translation>
    </message>
    <message>
        <source>The package manager could not install the update: %1</source>
        <translation>Die Paketverwaltung konnte das Update nicht installieren: %1</translation>
    </message>
    <message>
        <source>This installation cannot prepare an update.</source>
        <translation>Diese Installation kann kein Update vorbereiten.</translation>
    </message>
    <message>
        <source>The update&apos;s version number is not valid.</source>
        <translation>Die Versionsnummer des Updates ist ungültig.</translation>
    </message>
    <message>
        <source>The installed copy of Zelvane could not be found.</source>
        <translation>Die installierte Kopie von Zelvane wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>Zelvane %1 is already installed.</source>
        <translation>Zelvane %1 ist bereits installiert.</translation>
    </message>
    <message>
        <source>There is no room to unpack the update.</source>
        <translation>Es ist nicht genug Platz, um das Update zu entpacken.</translation>
    </message>
    <message>
        <source>The update could not be unpacked.</source>
        <translation>Das Update konnte nicht entpackt werden.</translation>
    </message>
    <message>
        <source>The update does not contain Zelvane.</source>
        <translation>Das Update enthält Zelvane nicht.</translation>
    </message>
    <message>
        <source>The update could not be put in place.</source>
        <translation>Das Update konnte nicht eingerichtet werden.</translation>
    </message>
    <message>
        <source>Zelvane %1 did not start, so the version you have was kept.</source>
        <translation>Zelvane %1 ist nicht gestartet, deshalb wurde Ihre bisherige Version behalten.</translation>
    </message>
    <message>
        <source>Zelvane %1 did not run, so it was not installed.</source>
        <translation>Zelvane %1 lief nicht und wurde deshalb nicht installiert.</translation>
    </message>
</context>
<context>
    <name>LLMError</name>
    <message>
        <source>Could not parse OpenAI tool call response</source>
        <translation>Die Tool-Antwort von OpenAI konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>No content in response</source>
        <translation>Die Antwort enthält keinen Inhalt</translation>
    </message>
    <message>
        <source>Could not parse Gemini response</source>
        <translation>Die Antwort von Gemini konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>Parse error: %1</source>
        <translation>Lesefehler: %1</translation>
    </message>
    <message>
        <source>No API key configured. Add your API key in Settings.</source>
        <translation>Kein API-Schlüssel eingerichtet. Fügen Sie Ihren API-Schlüssel in den Einstellungen hinzu.</translation>
    </message>
    <message>
        <source>Invalid response from LLM API</source>
        <translation>Ungültige Antwort der KI-Schnittstelle</translation>
    </message>
    <message>
        <source>The provider redirected the request; check the address</source>
        <translation>Der Anbieter hat die Anfrage umgeleitet; prüfen Sie die Adresse</translation>
    </message>
    <message>
        <source>Research timed out after 90 seconds</source>
        <translation>Die Recherche wurde nach 90 Sekunden abgebrochen</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
</context>
<context>
    <name>LLMProviders</name>
    <message>
        <source>Sign in or create a free account at console.anthropic.com, then create an API key. New accounts include free credits.</source>
        <translation>Melden Sie sich bei console.anthropic.com an oder erstellen Sie dort ein kostenloses Konto, und erstellen Sie dann einen API-Schlüssel. Neue Konten enthalten ein kostenloses Guthaben.</translation>
    </message>
    <message>
        <source>Open Anthropic Console</source>
        <translation>Anthropic Console öffnen</translation>
    </message>
    <message>
        <source>Sign in to your OpenAI account (the same one you use for ChatGPT), then create an API key.</source>
        <translation>Melden Sie sich bei Ihrem OpenAI-Konto an (dasselbe wie für ChatGPT) und erstellen Sie dann einen API-Schlüssel.</translation>
    </message>
    <message>
        <source>Open OpenAI Dashboard</source>
        <translation>OpenAI-Dashboard öffnen</translation>
    </message>
    <message>
        <source>Sign in with your Google account. API keys are free with generous usage limits.</source>
        <translation>Melden Sie sich mit Ihrem Google-Konto an. API-Schlüssel sind kostenlos und großzügig nutzbar.</translation>
    </message>
    <message>
        <source>Open Google AI Studio</source>
        <translation>Google AI Studio öffnen</translation>
    </message>
    <message>
        <source>Sign in with your X (Twitter) account, then create an API key.</source>
        <translation>Melden Sie sich mit Ihrem X-Konto (Twitter) an und erstellen Sie dann einen API-Schlüssel.</translation>
    </message>
    <message>
        <source>Open xAI Console</source>
        <translation>xAI Console öffnen</translation>
    </message>
</context>
<context>
    <name>MeetingBriefCard</name>
    <message>
        <source>Meeting Brief</source>
        <translation>Meeting-Briefing</translation>
    </message>
    <message>
        <source>Talking Points</source>
        <translation>Gesprächspunkte</translation>
    </message>
    <message>
        <source>Attendees</source>
        <translation>Teilnehmer</translation>
    </message>
</context>
<context>
    <name>MeetingPlatforms</name>
    <message>
        <source>Join Zoom Meeting</source>
        <translation>Zoom-Meeting beitreten</translation>
    </message>
    <message>
        <source>Join with Google Meet</source>
        <translation>Mit Google Meet beitreten</translation>
    </message>
    <message>
        <source>Join Teams Meeting</source>
        <translation>Teams-Meeting beitreten</translation>
    </message>
    <message>
        <source>Join Webex</source>
        <translation>Webex beitreten</translation>
    </message>
</context>
<context>
    <name>OnboardingProviderRow</name>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
</context>
<context>
    <name>OnboardingView</name>
    <message>
        <source>Sign in to see upcoming meetings and trigger reminders.</source>
        <translation>Melden Sie sich an, um anstehende Meetings zu sehen und Erinnerungen zu erhalten.</translation>
    </message>
    <message>
        <source>Add your calendar&apos;s feed address to see upcoming meetings and trigger reminders.</source>
        <translation>Fügen Sie die Feed-Adresse Ihres Kalenders hinzu, um anstehende Meetings zu sehen und Erinnerungen zu erhalten.</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Welcome to Zelvane</source>
        <translation>Willkommen bei Zelvane</translation>
    </message>
    <message>
        <source>Full-screen meeting reminders with
AI-powered meeting prep.</source>
        <translation>Meeting-Erinnerungen im Vollbild mit
KI-gestützter Vorbereitung.</translation>
    </message>
    <message>
        <source>Impossible-to-miss full-screen reminders</source>
        <translation>Unübersehbare Erinnerungen im Vollbild</translation>
    </message>
    <message>
        <source>One-click join for Zoom, Teams, and Meet</source>
        <translation>Mit einem Klick zu Zoom, Teams und Meet</translation>
    </message>
    <message>
        <source>AI researches your attendees before every meeting</source>
        <translation>KI recherchiert vor jedem Meeting Ihre Teilnehmer</translation>
    </message>
    <message>
        <source>Connect Your Calendar</source>
        <translation>Kalender verbinden</translation>
    </message>
    <message>
        <source>Calendar connected</source>
        <translation>Kalender verbunden</translation>
    </message>
    <message>
        <source>Get Started</source>
        <translation>Los geht&apos;s</translation>
    </message>
</context>
<context>
    <name>RedirectError</name>
    <message>
        <source>The server redirected the request; check the address</source>
        <translation>Der Server hat die Anfrage umgeleitet; prüfen Sie die Adresse</translation>
    </message>
</context>
<context>
    <name>ReminderOffsets</name>
    <message>
        <source>At start</source>
        <translation>Bei Beginn</translation>
    </message>
    <message>
        <source>1 minute before</source>
        <translation>1 Minute vorher</translation>
    </message>
    <message>
        <source>2 minutes before</source>
        <translation>2 Minuten vorher</translation>
    </message>
    <message>
        <source>5 minutes before</source>
        <translation>5 Minuten vorher</translation>
    </message>
    <message>
        <source>10 minutes before</source>
        <translation>10 Minuten vorher</translation>
    </message>
    <message>
        <source>15 minutes before</source>
        <translation>15 Minuten vorher</translation>
    </message>
</context>
<context>
    <name>ReminderOverlayView</name>
    <message>
        <source>Video Meeting</source>
        <translation>Videomeeting</translation>
    </message>
    <message>
        <source>Join</source>
        <translation>Beitreten</translation>
    </message>
    <message>
        <source>Join %1</source>
        <comment>a video service</comment>
        <translation>%1 beitreten</translation>
    </message>
    <message numerus="yes">
        <source>%n min</source>
        <comment>snooze for</comment>
        <translation>
            <numerusform>%n Min.</numerusform>
            <numerusform>%n Min.</numerusform>
        </translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>ReminderPresenter</name>
    <message>
        <source>Join</source>
        <translation>Beitreten</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>ResearchPrompt</name>
    <message>
        <source>Internal team member</source>
        <translation>Internes Teammitglied</translation>
    </message>
</context>
<context>
    <name>SMSContent</name>
    <message>
        <source>SMS</source>
        <translation>SMS</translation>
    </message>
    <message>
        <source>Get text message reminders before meetings.</source>
        <translation>Erhalten Sie vor Meetings Erinnerungen per SMS.</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Einrichtung</translation>
    </message>
    <message>
        <source>Enable SMS reminders</source>
        <translation>SMS-Erinnerungen aktivieren</translation>
    </message>
    <message>
        <source>Phone number</source>
        <translation>Telefonnummer</translation>
    </message>
</context>
<context>
    <name>SMSService</name>
    <message>
        <source>Zelvane: %1 starts NOW</source>
        <translation>Zelvane: %1 beginnt JETZT</translation>
    </message>
    <message numerus="yes">
        <source>Zelvane: %1 starts in %n min</source>
        <translation>
            <numerusform>Zelvane: %1 beginnt in %n Min.</numerusform>
            <numerusform>Zelvane: %1 beginnt in %n Min.</numerusform>
        </translation>
    </message>
    <message>
        <source>Join: %1</source>
        <translation>Beitreten: %1</translation>
    </message>
</context>
<context>
    <name>SecretStoreError</name>
    <message>
        <source>Keyring save failed: %1</source>
        <translation>Speichern im Schlüsselbund fehlgeschlagen: %1</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>SETTINGS</source>
        <translation>EINSTELLUNGEN</translation>
    </message>
</context>
<context>
    <name>SidebarTabList</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
</context>
<context>
    <name>SidebarTabs</name>
    <message>
        <source>Accounts</source>
        <translation>Konten</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>AI Research (Beta)</source>
        <translation>KI-Recherche (Beta)</translation>
    </message>
    <message>
        <source>SMS</source>
        <translation>SMS</translation>
    </message>
</context>
<context>
    <name>SignInError</name>
    <message>
        <source>Invalid authentication URL received</source>
        <translation>Ungültige Anmeldeadresse erhalten</translation>
    </message>
    <message>
        <source>Authorization failed. No auth code received.</source>
        <translation>Autorisierung fehlgeschlagen. Kein Autorisierungscode erhalten.</translation>
    </message>
</context>
<context>
    <name>SignInHttp</name>
    <message>
        <source>You can close this tab and return to Zelvane.</source>
        <translation>Sie können diesen Tab schließen und zu Zelvane zurückkehren.</translation>
    </message>
    <message>
        <source>Account connected!</source>
        <translation>Konto verbunden!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Authorization failed. Please try again from the Zelvane app.</source>
        <translation>Autorisierung fehlgeschlagen. Bitte versuchen Sie es in der Zelvane-App erneut.</translation>
    </message>
    <message>
        <source>Slack Connected!</source>
        <translation>Slack verbunden!</translation>
    </message>
    <message>
        <source>Slack authorization failed. Please try again.</source>
        <translation>Die Autorisierung bei Slack ist fehlgeschlagen. Bitte versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>SignInModel</name>
    <message>
        <source>The sign-in could not be started.</source>
        <translation>Die Anmeldung konnte nicht gestartet werden.</translation>
    </message>
</context>
<context>
    <name>SignInServiceError</name>
    <message>
        <source>Zelvane&apos;s sign-in service is not working right now (%1). Try again later, or use a calendar feed.</source>
        <translation>Der Anmeldedienst von Zelvane funktioniert gerade nicht (%1). Versuchen Sie es später erneut oder verwenden Sie einen Kalender-Feed.</translation>
    </message>
    <message>
        <source>Zelvane could not reach its sign-in service. Check your connection, or use a calendar feed.</source>
        <translation>Zelvane konnte seinen Anmeldedienst nicht erreichen. Prüfen Sie Ihre Verbindung oder verwenden Sie einen Kalender-Feed.</translation>
    </message>
</context>
<context>
    <name>SlackError</name>
    <message>
        <source>Slack API error: %1</source>
        <translation>Slack-API-Fehler: %1</translation>
    </message>
    <message>
        <source>Slack is not connected. Please connect Slack first.</source>
        <translation>Slack ist nicht verbunden. Bitte verbinden Sie zuerst Slack.</translation>
    </message>
    <message>
        <source>Slack authorization timed out. Please try again.</source>
        <translation>Die Autorisierung bei Slack hat zu lange gedauert. Bitte versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Slack authorization failed. No auth code received.</source>
        <translation>Die Autorisierung bei Slack ist fehlgeschlagen. Kein Autorisierungscode erhalten.</translation>
    </message>
    <message>
        <source>Slack authorization was cancelled.</source>
        <translation>Die Autorisierung bei Slack wurde abgebrochen.</translation>
    </message>
    <message>
        <source>Slack API request failed.</source>
        <translation>Die Anfrage an die Slack-API ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
</context>
<context>
    <name>StatusMenu</name>
    <message>
        <source>Join</source>
        <translation>Beitreten</translation>
    </message>
    <message>
        <source>View Brief</source>
        <translation>Briefing ansehen</translation>
    </message>
    <message>
        <source>No calendar connected</source>
        <translation>Kein Kalender verbunden</translation>
    </message>
    <message>
        <source>Connect a Calendar…</source>
        <translation>Kalender verbinden …</translation>
    </message>
    <message>
        <source>NOW</source>
        <translation>JETZT</translation>
    </message>
    <message numerus="yes">
        <source>in %n min</source>
        <translation>
            <numerusform>in %n Min.</numerusform>
            <numerusform>in %n Min.</numerusform>
        </translation>
    </message>
    <message>
        <source>⬆  Update Available — Install Now</source>
        <translation>⬆  Update verfügbar – jetzt installieren</translation>
    </message>
    <message>
        <source>No upcoming meetings</source>
        <translation>Keine anstehenden Meetings</translation>
    </message>
    <message>
        <source>Open Zelvane</source>
        <translation>Zelvane öffnen</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen …</translation>
    </message>
    <message>
        <source>Quit Zelvane</source>
        <translation>Zelvane beenden</translation>
    </message>
</context>
<context>
    <name>TransportError</name>
    <message>
        <source>The request took too long and was cancelled</source>
        <translation>Die Anfrage dauerte zu lange und wurde abgebrochen</translation>
    </message>
    <message>
        <source>Operation canceled</source>
        <translation>Vorgang abgebrochen</translation>
    </message>
</context>
<context>
    <name>TrayCountdown</name>
    <message>
        <source>No more meetings today</source>
        <translation>Heute keine Meetings mehr</translation>
    </message>
    <message>
        <source>%1 in less than a minute</source>
        <translation>%1 in weniger als einer Minute</translation>
    </message>
    <message numerus="yes">
        <source>%1 in %n min</source>
        <translation>
            <numerusform>%1 in %n Min.</numerusform>
            <numerusform>%1 in %n Min.</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 at %2</source>
        <translation>%1 um %2</translation>
    </message>
</context>
<context>
    <name>UpdateBanner</name>
    <message>
        <source>Update Available</source>
        <translation>Update verfügbar</translation>
    </message>
    <message>
        <source>A new version of Zelvane is ready to install.</source>
        <translation>Eine neue Version von Zelvane ist bereit zur Installation.</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Suche nach Updates …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation>Sie sind auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Zelvane %1 is currently the newest version available.</source>
        <translation>Zelvane %1 ist derzeit die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>A new version of Zelvane is available!</source>
        <translation>Eine neue Version von Zelvane ist verfügbar!</translation>
    </message>
    <message>
        <source>Zelvane %1 is now available — you have %2. Would you like to install it now?</source>
        <translation>Zelvane %1 ist jetzt verfügbar – Sie haben %2. Möchten Sie die neue Version jetzt installieren?</translation>
    </message>
    <message>
        <source>Release Notes</source>
        <translation>Versionshinweise</translation>
    </message>
    <message>
        <source>Release Notes…</source>
        <translation>Versionshinweise …</translation>
    </message>
    <message>
        <source>Skip This Version</source>
        <translation>Diese Version überspringen</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation>Update wird heruntergeladen …</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Download-Fortschritt</translation>
    </message>
    <message>
        <source>Installing update…</source>
        <translation>Update wird installiert …</translation>
    </message>
    <message>
        <source>Zelvane restarts when the new version is in place.</source>
        <translation>Zelvane startet neu, sobald die neue Version eingerichtet ist.</translation>
    </message>
    <message>
        <source>Finish the update in your software installer</source>
        <translation>Schließen Sie das Update in Ihrer Softwareverwaltung ab</translation>
    </message>
    <message>
        <source>The verified update was opened in your desktop&apos;s software installer. Restart Zelvane when it is installed.</source>
        <translation>Das geprüfte Update wurde in der Softwareverwaltung Ihres Desktops geöffnet. Starten Sie Zelvane neu, sobald es installiert ist.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Update fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>The update feed moved to another server, which Zelvane does not follow. Try again later.</source>
        <translation>Der Update-Feed ist auf einen anderen Server umgezogen, dem Zelvane nicht folgt. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update server stopped responding. Try again later.</source>
        <translation>Der Update-Server antwortet nicht mehr. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update server could not be reached. Check your internet connection and try again.</source>
        <translation>Der Update-Server ist nicht erreichbar. Prüfen Sie Ihre Internetverbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The update could not be downloaded.</source>
        <translation>Das Update konnte nicht heruntergeladen werden.</translation>
    </message>
    <message>
        <source>The update feed answered with status %1. Try again later.</source>
        <translation>Der Update-Feed antwortete mit Status %1. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update information could not be read. Try again later.</source>
        <translation>Die Update-Informationen konnten nicht gelesen werden. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>There is no room to save the update.</source>
        <translation>Es ist nicht genug Platz, um das Update zu speichern.</translation>
    </message>
    <message>
        <source>The update was cancelled.</source>
        <translation>Das Update wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The download is larger than announced, so it was deleted and not installed.</source>
        <translation>Der Download ist größer als angekündigt und wurde deshalb gelöscht und nicht installiert.</translation>
    </message>
    <message>
        <source>The update server answered with status %1. Try again later.</source>
        <translation>Der Update-Server antwortete mit Status %1. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The download was incomplete, so it was deleted and not installed. Try again later.</source>
        <translation>Der Download war unvollständig und wurde deshalb gelöscht und nicht installiert. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update&apos;s signature is not valid, so it was deleted and not installed.</source>
        <translation>Die Signatur des Updates ist ungültig; es wurde deshalb gelöscht und nicht installiert.</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>Die Suche nach Updates ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>This update offers no download for this kind of installation.</source>
        <translation>Dieses Update bietet keinen Download für diese Art der Installation.</translation>
    </message>
    <message>
        <source>The update could not be installed.</source>
        <translation>Das Update konnte nicht installiert werden.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Zelvane makes upcoming meetings impossible to miss: it lives in the system tray and covers every screen with a reminder before each meeting.</source>
        <translation>Mit Zelvane verpassen Sie kein Meeting mehr: Es sitzt im Systembereich und legt vor jedem Meeting eine Erinnerung über alle Bildschirme.</translation>
    </message>
</context>
</TS>
