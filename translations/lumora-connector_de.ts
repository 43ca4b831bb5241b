<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Cipher</name>
    <message>
        <source>it is not a regular file</source>
        <translation>es ist keine normale Datei</translation>
    </message>
    <message>
        <source>it is larger than 1 MiB</source>
        <translation>sie ist größer als 1 MiB</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>die Datei ist leer</translation>
    </message>
    <message>
        <source>it holds no PEM public key</source>
        <translation>sie enthält keinen öffentlichen PEM-Schlüssel</translation>
    </message>
    <message>
        <source>it is not an RSA key</source>
        <translation>es ist kein RSA-Schlüssel</translation>
    </message>
</context>
<context>
    <name>DeviceClient</name>
    <message>
        <source>a reader is plugged in at %1 but this user may not open it: install the udev rule (see README) and plug it in again</source>
        <translation>an %1 ist ein Lesegerät angeschlossen, aber dieser Benutzer darf es nicht öffnen: Installieren Sie die udev-Regel (siehe README) und schließen Sie das Lesegerät erneut an</translation>
    </message>
</context>
<context>
    <name>DownloadSession</name>
    <message>
        <source>The download holds no sensor id (text member &quot;90&quot; of its first record); nothing was saved.</source>
        <translation>Der Download enthält keine Sensor-ID (Textfeld „90“ seines ersten Datensatzes); es wurde nichts gespeichert.</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 Tage</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 behind this computer&apos;s.</source>
        <translation>Die Uhr des Lesegeräts geht gegenüber diesem Computer %1 nach.</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 ahead of this computer&apos;s.</source>
        <translation>Die Uhr des Lesegeräts geht gegenüber diesem Computer %1 vor.</translation>
    </message>
</context>
<context>
    <name>DownloadWorker</name>
    <message>
        <source>The reader was disconnected before the download finished. Nothing was saved.</source>
        <translation>Das Lesegerät wurde getrennt, bevor der Download abgeschlossen war. Es wurde nichts gespeichert.</translation>
    </message>
</context>
<context>
    <name>FileUtil</name>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;;&apos; for the start of a comment and &apos;&quot;&apos; for a quote. Put the whole value in double quotes.</source>
        <translation>Die Einstellungsdatei %1 wird bei %2 falsch gelesen: In diesem Dateiformat beginnt &apos;;&apos; einen Kommentar und &apos;&quot;&apos; ein Zitat. Setzen Sie den ganzen Wert in doppelte Anführungszeichen.</translation>
    </message>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;\&apos; for the start of an escape. Write paths with &apos;/&apos;.</source>
        <translation>Die Einstellungsdatei %1 wird bei %2 falsch gelesen: In diesem Dateiformat beginnt &apos;\&apos; eine Escape-Sequenz. Schreiben Sie Pfade mit &apos;/&apos;.</translation>
    </message>
    <message>
        <source>it is empty</source>
        <translation>sie ist leer</translation>
    </message>
    <message>
        <source>it begins or ends with white space</source>
        <translation>sie beginnt oder endet mit Leerraum</translation>
    </message>
    <message>
        <source>it is made of dots only</source>
        <translation>sie besteht nur aus Punkten</translation>
    </message>
    <message>
        <source>it ends with a dot</source>
        <translation>sie endet mit einem Punkt</translation>
    </message>
    <message>
        <source>it names a device on Windows</source>
        <translation>sie bezeichnet unter Windows ein Gerät</translation>
    </message>
    <message>
        <source>it contains a path separator</source>
        <translation>sie enthält ein Pfadtrennzeichen</translation>
    </message>
    <message>
        <source>it contains a control character</source>
        <translation>sie enthält ein Steuerzeichen</translation>
    </message>
    <message>
        <source>it contains %1, which file names may not hold</source>
        <translation>sie enthält %1, das in Dateinamen nicht vorkommen darf</translation>
    </message>
    <message>
        <source>it is longer than %1 bytes</source>
        <translation>sie ist länger als %1 Byte</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read (%2). Let this user read it, or remove it to use the defaults.</source>
        <translation>Die Einstellungsdatei %1 kann nicht gelesen werden (%2). Erlauben Sie diesem Benutzer, sie zu lesen, oder entfernen Sie sie, um die Standardwerte zu verwenden.</translation>
    </message>
    <message>
        <source>The settings file %1 is not a valid INI file. Correct it, or remove it to use the defaults.</source>
        <translation>Die Einstellungsdatei %1 ist keine gültige INI-Datei. Korrigieren Sie sie oder entfernen Sie sie, um die Standardwerte zu verwenden.</translation>
    </message>
    <message>
        <source>The settings file %1 holds neither data_dir nor public_key_file under [General]. Put them under [General], or remove the file to use the defaults.</source>
        <translation>Die Einstellungsdatei %1 enthält unter [General] weder data_dir noch public_key_file. Tragen Sie sie unter [General] ein oder entfernen Sie die Datei, um die Standardwerte zu verwenden.</translation>
    </message>
    <message>
        <source>The public key %1 cannot be used: %2. Set public_key_file in %3 to the recipient&apos;s PEM public key.</source>
        <translation>Der öffentliche Schlüssel %1 kann nicht verwendet werden: %2. Setzen Sie public_key_file in %3 auf den öffentlichen PEM-Schlüssel des Empfängers.</translation>
    </message>
    <message>
        <source>The data folder %1 does not exist. Create it, or set data_dir in %2 to a folder that exists.</source>
        <translation>Der Datenordner %1 existiert nicht. Legen Sie ihn an oder setzen Sie data_dir in %2 auf einen vorhandenen Ordner.</translation>
    </message>
    <message>
        <source>This user may not write to the data folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Dieser Benutzer darf nicht in den Datenordner %1 schreiben. Ändern Sie dessen Berechtigungen oder setzen Sie data_dir in %2 auf einen Ordner, in den dieser Benutzer schreiben darf.</translation>
    </message>
    <message>
        <source>This user may not write to the sensor folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Dieser Benutzer darf nicht in den Sensorordner %1 schreiben. Ändern Sie dessen Berechtigungen oder setzen Sie data_dir in %2 auf einen Ordner, in den dieser Benutzer schreiben darf.</translation>
    </message>
    <message>
        <source>Could not create the data path %1</source>
        <translation>Der Datenordner %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not save the sensor file: it has no name.</source>
        <translation>Die Sensordatei konnte nicht gespeichert werden: Sie hat keinen Namen.</translation>
    </message>
    <message>
        <source>Could not save the sensor file. Check the permissions on the directory for %1: %2</source>
        <translation>Die Sensordatei konnte nicht gespeichert werden. Prüfen Sie die Berechtigungen des Ordners %1: %2</translation>
    </message>
    <message>
        <source>Could not load the public key %1: %2. The sensor file was not saved.</source>
        <translation>Der öffentliche Schlüssel %1 konnte nicht geladen werden: %2. Die Sensordatei wurde nicht gespeichert.</translation>
    </message>
    <message>
        <source>Could not encrypt the sensor file for the public key %1: %2. The sensor file was not saved.</source>
        <translation>Die Sensordatei konnte nicht für den öffentlichen Schlüssel %1 verschlüsselt werden: %2. Die Sensordatei wurde nicht gespeichert.</translation>
    </message>
    <message>
        <source>Could not save the sensor file %1: %2</source>
        <translation>Die Sensordatei %1 konnte nicht gespeichert werden: %2</translation>
    </message>
    <message>
        <source>Could not create the sensor path %1</source>
        <translation>Der Sensorordner %1 konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not read file</source>
        <translation>Datei konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>Refused the sensor id %1: %2. Nothing was saved.</source>
        <translation>Sensor-ID %1 abgelehnt: %2. Es wurde nichts gespeichert.</translation>
    </message>
    <message>
        <source>Refused the file name %1: %2. Nothing was saved.</source>
        <translation>Dateiname %1 abgelehnt: %2. Es wurde nichts gespeichert.</translation>
    </message>
</context>
<context>
    <name>Page1Form.ui</name>
    <message>
        <source>Device Status:</source>
        <translation>Gerätestatus:</translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation>Seriennummer Sensor:</translation>
    </message>
    <message>
        <source>Reader Serial Number:</source>
        <translation>Seriennummer Lesegerät:</translation>
    </message>
    <message>
        <source>SW Version:</source>
        <translation>SW-Version:</translation>
    </message>
    <message>
        <source>Reader Date Time:</source>
        <translation>Uhrzeit Lesegerät:</translation>
    </message>
    <message>
        <source>© Norvane. For use with Lumora Kelo readers and their sensors only.</source>
        <extracomment>The maker&apos;s and the readers&apos; names stay as they are.</extracomment>
        <translation>© Norvane. Nur zur Verwendung mit Lesegeräten der Reihe Lumora Kelo und deren Sensoren.</translation>
    </message>
    <message>
        <source>Software version: %1</source>
        <translation>Softwareversion: %1</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Norvane Lumora Kelo Connector</source>
        <extracomment>The program&apos;s name: the same in every language.</extracomment>
        <translation>Norvane Lumora Kelo Connector</translation>
    </message>
    <message>
        <source>The reader does not answer. Unplug it and plug it in again.</source>
        <translation>Das Lesegerät antwortet nicht. Trennen Sie es und schließen Sie es wieder an.</translation>
    </message>
    <message>
        <source>No data to report from the Sensor.</source>
        <translation>Der Sensor enthält keine Daten zum Übertragen.</translation>
    </message>
    <message>
        <source>The reader&apos;s data does not name the sensor. Nothing was saved.</source>
        <translation>Die Daten des Lesegeräts nennen keinen Sensor. Es wurde nichts gespeichert.</translation>
    </message>
    <message>
        <source>The reader is connected.</source>
        <translation>Das Lesegerät ist angeschlossen.</translation>
    </message>
    <message>
        <source>The reader is disconnected.</source>
        <translation>Das Lesegerät ist getrennt.</translation>
    </message>
    <message>
        <source>Please Connect the Reader.</source>
        <translation>Bitte schließen Sie das Lesegerät an.</translation>
    </message>
    <message>
        <source>Get Data</source>
        <translation>Daten abrufen</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Downloading the reader&apos;s data...</source>
        <translation>Daten des Lesegeräts werden heruntergeladen…</translation>
    </message>
    <message>
        <source>1 record</source>
        <translation>1 Datensatz</translation>
    </message>
    <message>
        <source>%1 records</source>
        <translation>%1 Datensätze</translation>
    </message>
    <message>
        <source>Ready To Transfer</source>
        <translation>Bereit zur Übertragung</translation>
    </message>
    <message>
        <source>Copy path</source>
        <translation>Pfad kopieren</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>&lt;device not connected&gt;</source>
        <translation>&lt;Gerät nicht angeschlossen&gt;</translation>
    </message>
    <message>
        <source>Device status: %1</source>
        <translation>Gerätestatus: %1</translation>
    </message>
    <message>
        <source>Sensor serial number: %1</source>
        <translation>Seriennummer Sensor: %1</translation>
    </message>
    <message>
        <source>Reader serial number: %1</source>
        <translation>Seriennummer Lesegerät: %1</translation>
    </message>
    <message>
        <source>Reader date and time: %1</source>
        <translation>Datum und Uhrzeit des Lesegeräts: %1</translation>
    </message>
    <message>
        <source>Downloads the reader&apos;s records and saves them encrypted for the recipient.</source>
        <translation>Lädt die Datensätze des Lesegeräts herunter und speichert sie verschlüsselt für den Empfänger.</translation>
    </message>
    <message>
        <source>A log for support is kept in %1.</source>
        <translation>Ein Protokoll für den Support wird in %1 geführt.</translation>
    </message>
    <message>
        <source>Open log folder</source>
        <translation>Protokollordner öffnen</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Download-Fortschritt</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Drag the file from here into another application.</source>
        <translation>Ziehen Sie die Datei von hier in eine andere Anwendung.</translation>
    </message>
    <message>
        <source>Saved file</source>
        <translation>Gespeicherte Datei</translation>
    </message>
    <message>
        <source>Drag the file where you need it</source>
        <translation>Ziehen Sie die Datei dorthin, wo Sie sie brauchen</translation>
    </message>
</context>
</TS>
