<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT">
<context>
    <name>Cipher</name>
    <message>
        <source>it is not a regular file</source>
        <translation>non è un file normale</translation>
    </message>
    <message>
        <source>it is larger than 1 MiB</source>
        <translation>è più grande di 1 MiB</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>il file è vuoto</translation>
    </message>
    <message>
        <source>it holds no PEM public key</source>
        <translation>non contiene alcuna chiave pubblica PEM</translation>
    </message>
    <message>
        <source>it is not an RSA key</source>
        <translation>non è una chiave RSA</translation>
    </message>
</context>
<context>
    <name>DeviceClient</name>
    <message>
        <source>a reader is plugged in at %1 but this user may not open it: install the udev rule (see README) and plug it in again</source>
        <translation>un lettore è collegato a %1, ma questo utente non ha il permesso di aprirlo: installare la regola udev (vedere README) e ricollegarlo</translation>
    </message>
</context>
<context>
    <name>DownloadSession</name>
    <message>
        <source>The download holds no sensor id (text member &quot;90&quot; of its first record); nothing was saved.</source>
        <translation>Il download non contiene alcun ID del sensore (campo di testo «90» del suo primo record); non è stato salvato nulla.</translation>
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
        <translation>%1 giorni</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 behind this computer&apos;s.</source>
        <translation>L&apos;orologio del lettore è indietro di %1 rispetto a questo computer.</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 ahead of this computer&apos;s.</source>
        <translation>L&apos;orologio del lettore è avanti di %1 rispetto a questo computer.</translation>
    </message>
</context>
<context>
    <name>DownloadWorker</name>
    <message>
        <source>The reader was disconnected before the download finished. Nothing was saved.</source>
        <translation>Il lettore è stato scollegato prima della fine del download. Non è stato salvato nulla.</translation>
    </message>
</context>
<context>
    <name>FileUtil</name>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;;&apos; for the start of a comment and &apos;&quot;&apos; for a quote. Put the whole value in double quotes.</source>
        <translation>Il file delle impostazioni %1 viene letto in modo errato in %2: in questo formato &apos;;&apos; inizia un commento e &apos;&quot;&apos; una citazione. Racchiudere l&apos;intero valore tra virgolette doppie.</translation>
    </message>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;\&apos; for the start of an escape. Write paths with &apos;/&apos;.</source>
        <translation>Il file delle impostazioni %1 viene letto in modo errato in %2: in questo formato &apos;\&apos; inizia una sequenza di escape. Scrivere i percorsi con &apos;/&apos;.</translation>
    </message>
    <message>
        <source>it is empty</source>
        <translation>è vuoto</translation>
    </message>
    <message>
        <source>it begins or ends with white space</source>
        <translation>inizia o termina con uno spazio</translation>
    </message>
    <message>
        <source>it is made of dots only</source>
        <translation>è formato solo da punti</translation>
    </message>
    <message>
        <source>it ends with a dot</source>
        <translation>termina con un punto</translation>
    </message>
    <message>
        <source>it names a device on Windows</source>
        <translation>indica un dispositivo in Windows</translation>
    </message>
    <message>
        <source>it contains a path separator</source>
        <translation>contiene un separatore di percorso</translation>
    </message>
    <message>
        <source>it contains a control character</source>
        <translation>contiene un carattere di controllo</translation>
    </message>
    <message>
        <source>it contains %1, which file names may not hold</source>
        <translation>contiene %1, non ammesso nei nomi di file</translation>
    </message>
    <message>
        <source>it is longer than %1 bytes</source>
        <translation>supera i %1 byte</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read (%2). Let this user read it, or remove it to use the defaults.</source>
        <translation>Impossibile leggere il file delle impostazioni %1 (%2). Consentire a questo utente di leggerlo, oppure rimuoverlo per usare i valori predefiniti.</translation>
    </message>
    <message>
        <source>The settings file %1 is not a valid INI file. Correct it, or remove it to use the defaults.</source>
        <translation>Il file delle impostazioni %1 non è un file INI valido. Correggerlo, oppure rimuoverlo per usare i valori predefiniti.</translation>
    </message>
    <message>
        <source>The settings file %1 holds neither data_dir nor public_key_file under [General]. Put them under [General], or remove the file to use the defaults.</source>
        <translation>Il file delle impostazioni %1 non contiene né data_dir né public_key_file in [General]. Inserirli in [General], oppure rimuovere il file per usare i valori predefiniti.</translation>
    </message>
    <message>
        <source>The public key %1 cannot be used: %2. Set public_key_file in %3 to the recipient&apos;s PEM public key.</source>
        <translation>Impossibile usare la chiave pubblica %1: %2. Impostare public_key_file in %3 sulla chiave pubblica PEM del destinatario.</translation>
    </message>
    <message>
        <source>The data folder %1 does not exist. Create it, or set data_dir in %2 to a folder that exists.</source>
        <translation>La cartella dei dati %1 non esiste. Crearla, oppure impostare data_dir in %2 su una cartella esistente.</translation>
    </message>
    <message>
        <source>This user may not write to the data folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Questo utente non ha il permesso di scrivere nella cartella dei dati %1. Modificarne i permessi, oppure impostare data_dir in %2 su una cartella in cui questo utente possa scrivere.</translation>
    </message>
    <message>
        <source>This user may not write to the sensor folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Questo utente non ha il permesso di scrivere nella cartella del sensore %1. Modificarne i permessi, oppure impostare data_dir in %2 su una cartella in cui questo utente possa scrivere.</translation>
    </message>
    <message>
        <source>Could not create the data path %1</source>
        <translation>Impossibile creare la cartella dei dati %1</translation>
    </message>
    <message>
        <source>Could not save the sensor file: it has no name.</source>
        <translation>Impossibile salvare il file del sensore: non ha un nome.</translation>
    </message>
    <message>
        <source>Could not save the sensor file. Check the permissions on the directory for %1: %2</source>
        <translation>Impossibile salvare il file del sensore. Controllare i permessi della cartella %1: %2</translation>
    </message>
    <message>
        <source>Could not load the public key %1: %2. The sensor file was not saved.</source>
        <translation>Impossibile caricare la chiave pubblica %1: %2. Il file del sensore non è stato salvato.</translation>
    </message>
    <message>
        <source>Could not encrypt the sensor file for the public key %1: %2. The sensor file was not saved.</source>
        <translation>Impossibile cifrare il file del sensore per la chiave pubblica %1: %2. Il file del sensore non è stato salvato.</translation>
    </message>
    <message>
        <source>Could not save the sensor file %1: %2</source>
        <translation>Impossibile salvare il file del sensore %1: %2</translation>
    </message>
    <message>
        <source>Could not create the sensor path %1</source>
        <translation>Impossibile creare la cartella del sensore %1</translation>
    </message>
    <message>
        <source>Could not read file</source>
        <translation>Impossibile leggere il file</translation>
    </message>
    <message>
        <source>Refused the sensor id %1: %2. Nothing was saved.</source>
        <translation>ID del sensore %1 rifiutato: %2. Non è stato salvato nulla.</translation>
    </message>
    <message>
        <source>Refused the file name %1: %2. Nothing was saved.</source>
        <translation>Nome file %1 rifiutato: %2. Non è stato salvato nulla.</translation>
    </message>
</context>
<context>
    <name>Page1Form.ui</name>
    <message>
        <source>Device Status:</source>
        <translation>Stato del dispositivo:</translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation>Numero di serie del sensore:</translation>
    </message>
    <message>
        <source>Reader Serial Number:</source>
        <translation>Numero di serie del lettore:</translation>
    </message>
    <message>
        <source>SW Version:</source>
        <translation>Versione SW:</translation>
    </message>
    <message>
        <source>Reader Date Time:</source>
        <translation>Orologio del lettore:</translation>
    </message>
    <message>
        <source>© Norvane. For use with Lumora Kelo readers and their sensors only.</source>
        <extracomment>The maker&apos;s and the readers&apos; names stay as they are.</extracomment>
        <translation>© Norvane. Da usare solo con i lettori Lumora Kelo e i relativi sensori.</translation>
    </message>
    <message>
        <source>Software version: %1</source>
        <translation>Versione del software: %1</translation>
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
        <translation>Il lettore non risponde. Scollegarlo e ricollegarlo.</translation>
    </message>
    <message>
        <source>No data to report from the Sensor.</source>
        <translation>Il sensore non ha dati da trasferire.</translation>
    </message>
    <message>
        <source>The reader&apos;s data does not name the sensor. Nothing was saved.</source>
        <translation>I dati del lettore non indicano il sensore. Non è stato salvato nulla.</translation>
    </message>
    <message>
        <source>The reader is connected.</source>
        <translation>Il lettore è collegato.</translation>
    </message>
    <message>
        <source>The reader is disconnected.</source>
        <translation>Il lettore è scollegato.</translation>
    </message>
    <message>
        <source>Please Connect the Reader.</source>
        <translation>Collegare il lettore.</translation>
    </message>
    <message>
        <source>Get Data</source>
        <translation>Scarica i dati</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Errore</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Avanzamento</translation>
    </message>
    <message>
        <source>Downloading the reader&apos;s data...</source>
        <translation>Download dei dati del lettore in corso…</translation>
    </message>
    <message>
        <source>1 record</source>
        <translation>1 record</translation>
    </message>
    <message>
        <source>%1 records</source>
        <translation>%1 record</translation>
    </message>
    <message>
        <source>Ready To Transfer</source>
        <translation>Pronto per il trasferimento</translation>
    </message>
    <message>
        <source>Copy path</source>
        <translation>Copia percorso</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Apri cartella</translation>
    </message>
    <message>
        <source>&lt;device not connected&gt;</source>
        <translation>&lt;dispositivo non collegato&gt;</translation>
    </message>
    <message>
        <source>Device status: %1</source>
        <translation>Stato del dispositivo: %1</translation>
    </message>
    <message>
        <source>Sensor serial number: %1</source>
        <translation>Numero di serie del sensore: %1</translation>
    </message>
    <message>
        <source>Reader serial number: %1</source>
        <translation>Numero di serie del lettore: %1</translation>
    </message>
    <message>
        <source>Reader date and time: %1</source>
        <translation>Data e ora del lettore: %1</translation>
    </message>
    <message>
        <source>Downloads the reader&apos;s records and saves them encrypted for the recipient.</source>
        <translation>Scarica i record del lettore e li salva cifrati per il destinatario.</translation>
    </message>
    <message>
        <source>A log for support is kept in %1.</source>
        <translation>Un log per l&apos;assistenza viene tenuto in %1.</translation>
    </message>
    <message>
        <source>Open log folder</source>
        <translation>Apri la cartella dei log</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Avanzamento del download</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annulla</translation>
    </message>
    <message>
        <source>Drag the file from here into another application.</source>
        <translation>Trascina il file da qui in un&apos;altra applicazione.</translation>
    </message>
    <message>
        <source>Saved file</source>
        <translation>File salvato</translation>
    </message>
    <message>
        <source>Drag the file where you need it</source>
        <translation>Trascina il file dove ti serve</translation>
    </message>
</context>
</TS>
