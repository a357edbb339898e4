<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AIContent</name>
    <message>
        <source>Key saved</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not working</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AccountsContent</name>
    <message>
        <source>Remove %1?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zelvane stops reminding you of its meetings. You can connect it again later.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for Slack… Finish signing in in your browser.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AccountsModel</name>
    <message>
        <source>The Slack sign-in could not be started.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AppController</name>
    <message>
        <source>Zelvane %1 is ready to install</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The update was downloaded and verified. Choose Install to install it now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Install</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>BodyLimitError</name>
    <message>
        <source>The server&apos;s answer was too large and was not read</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>BuildTreeCopy</name>
    <message>
        <source>This copy of Zelvane was built from source, so it does not update itself. To get Zelvane %1, update your source tree and build it again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CalendarEvent</name>
    <message numerus="yes">
        <source>Started %n min ago • </source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>CalendarFeedForm</name>
    <message>
        <source>https://…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An https:// or webcal:// address, or a calendar file on this computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The feed&apos;s own name</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ConfirmationDialog</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DesktopCalendarSource</name>
    <message>
        <source>Evolution Data Server is not running on this desktop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On This Computer</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FeedError</name>
    <message>
        <source>The calendar feed could not be reached.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar feed answered with HTTP status %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The address does not lead to an iCalendar feed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar feed is larger than 20 MB.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use an https:// or webcal:// address, or a file on this computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar file could not be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar feed is malformed: its entries are nested too deeply.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar feed repeats its events too often to be read. Ask its owner to simplify the recurring events.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The calendar feed took longer than a minute to arrive.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading the calendar feed was stopped.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FeedPoller</name>
    <message>
        <source>Calendar Feed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GeneralContent</name>
    <message>
        <source>Startup</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Alert style</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GeneralSettingsModel</name>
    <message numerus="yes">
        <source>All %n active</source>
        <comment>calendars of an account</comment>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n active</source>
        <comment>calendars of an account</comment>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Full-screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notification only</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OnboardingView</name>
    <message>
        <source>Sign in to see upcoming meetings and trigger reminders.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add your calendar&apos;s feed address to see upcoming meetings and trigger reminders.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SignInServiceError</name>
    <message>
        <source>Zelvane&apos;s sign-in service is not working right now (%1). Try again later, or use a calendar feed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zelvane could not reach its sign-in service. Check your connection, or use a calendar feed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusMenu</name>
    <message>
        <source>Join</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View Brief</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No calendar connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect a Calendar…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrayCountdown</name>
    <message>
        <source>No more meetings today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 in less than a minute</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%1 in %n min</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>%1 at %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zelvane %1 is currently the newest version available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A new version of Zelvane is available!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zelvane %1 is now available — you have %2. Would you like to install it now?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Release Notes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Release Notes…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Skip This Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Later</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Install</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading update…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Installing update…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zelvane restarts when the new version is in place.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Finish the update in your software installer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The verified update was opened in your desktop&apos;s software installer. Restart Zelvane when it is installed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>The update feed moved to another server, which Zelvane does not follow. Try again later.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Zelvane makes upcoming meetings impossible to miss: it lives in the system tray and covers every screen with a reminder before each meeting.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
