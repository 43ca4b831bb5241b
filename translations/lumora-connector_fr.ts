<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>Cipher</name>
    <message>
        <source>it is not a regular file</source>
        <translation>ce n&apos;est pas un fichier ordinaire</translation>
    </message>
    <message>
        <source>it is larger than 1 MiB</source>
        <translation>il dépasse 1 Mio</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>le fichier est vide</translation>
    </message>
    <message>
        <source>it holds no PEM public key</source>
        <translation>il ne contient aucune clé publique PEM</translation>
    </message>
    <message>
        <source>it is not an RSA key</source>
        <translation>ce n&apos;est pas une clé RSA</translation>
    </message>
</context>
<context>
    <name>DeviceClient</name>
    <message>
        <source>a reader is plugged in at %1 but this user may not open it: install the udev rule (see README) and plug it in again</source>
        <translation>un lecteur est branché sur %1, mais cet utilisateur n&apos;a pas le droit de l&apos;ouvrir&#xa0;: installez la règle udev (voir README) et rebranchez-le</translation>
    </message>
</context>
<context>
    <name>DownloadSession</name>
    <message>
        <source>The download holds no sensor id (text member &quot;90&quot; of its first record); nothing was saved.</source>
        <translation>Le téléchargement ne contient aucun identifiant de capteur (champ texte «&#xa0;90&#xa0;» de son premier enregistrement)&#xa0;; rien n&apos;a été enregistré.</translation>
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
        <translation>%1 jours</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 behind this computer&apos;s.</source>
        <translation>L&apos;horloge du lecteur retarde de %1 sur celle de cet ordinateur.</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 ahead of this computer&apos;s.</source>
        <translation>L&apos;horloge du lecteur avance de %1 sur celle de cet ordinateur.</translation>
    </message>
</context>
<context>
    <name>DownloadWorker</name>
    <message>
        <source>The reader was disconnected before the download finished. Nothing was saved.</source>
        <translation>Le lecteur a été déconnecté avant la fin du téléchargement. Rien n&apos;a été enregistré.</translation>
    </message>
</context>
<context>
    <name>FileUtil</name>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;;&apos; for the start of a comment and &apos;&quot;&apos; for a quote. Put the whole value in double quotes.</source>
        <translation>Le fichier de paramètres %1 est mal lu à %2&#xa0;: dans ce format, &apos;;&apos; commence un commentaire et &apos;&quot;&apos; une citation. Mettez toute la valeur entre guillemets doubles.</translation>
    </message>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;\&apos; for the start of an escape. Write paths with &apos;/&apos;.</source>
        <translation>Le fichier de paramètres %1 est mal lu à %2&#xa0;: dans ce format, &apos;\&apos; commence une séquence d&apos;échappement. Écrivez les chemins avec &apos;/&apos;.</translation>
    </message>
    <message>
        <source>it is empty</source>
        <translation>il est vide</translation>
    </message>
    <message>
        <source>it begins or ends with white space</source>
        <translation>il commence ou se termine par un espace</translation>
    </message>
    <message>
        <source>it is made of dots only</source>
        <translation>il n&apos;est fait que de points</translation>
    </message>
    <message>
        <source>it ends with a dot</source>
        <translation>il se termine par un point</translation>
    </message>
    <message>
        <source>it names a device on Windows</source>
        <translation>il désigne un périphérique sous Windows</translation>
    </message>
    <message>
        <source>it contains a path separator</source>
        <translation>il contient un séparateur de chemin</translation>
    </message>
    <message>
        <source>it contains a control character</source>
        <translation>il contient un caractère de contrôle</translation>
    </message>
    <message>
        <source>it contains %1, which file names may not hold</source>
        <translation>il contient %1, interdit dans les noms de fichier</translation>
    </message>
    <message>
        <source>it is longer than %1 bytes</source>
        <translation>il dépasse %1 octets</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read (%2). Let this user read it, or remove it to use the defaults.</source>
        <translation>Le fichier de paramètres %1 ne peut pas être lu (%2). Autorisez cet utilisateur à le lire, ou supprimez-le pour utiliser les valeurs par défaut.</translation>
    </message>
    <message>
        <source>The settings file %1 is not a valid INI file. Correct it, or remove it to use the defaults.</source>
        <translation>Le fichier de paramètres %1 n&apos;est pas un fichier INI valide. Corrigez-le, ou supprimez-le pour utiliser les valeurs par défaut.</translation>
    </message>
    <message>
        <source>The settings file %1 holds neither data_dir nor public_key_file under [General]. Put them under [General], or remove the file to use the defaults.</source>
        <translation>Le fichier de paramètres %1 ne contient ni data_dir ni public_key_file sous [General]. Placez-les sous [General], ou supprimez le fichier pour utiliser les valeurs par défaut.</translation>
    </message>
    <message>
        <source>The public key %1 cannot be used: %2. Set public_key_file in %3 to the recipient&apos;s PEM public key.</source>
        <translation>La clé publique %1 ne peut pas être utilisée&#xa0;: %2. Indiquez dans public_key_file de %3 la clé publique PEM du destinataire.</translation>
    </message>
    <message>
        <source>The data folder %1 does not exist. Create it, or set data_dir in %2 to a folder that exists.</source>
        <translation>Le dossier de données %1 n&apos;existe pas. Créez-le, ou indiquez dans data_dir de %2 un dossier existant.</translation>
    </message>
    <message>
        <source>This user may not write to the data folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Cet utilisateur n&apos;a pas le droit d&apos;écrire dans le dossier de données %1. Modifiez ses droits, ou indiquez dans data_dir de %2 un dossier où cet utilisateur peut écrire.</translation>
    </message>
    <message>
        <source>This user may not write to the sensor folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Cet utilisateur n&apos;a pas le droit d&apos;écrire dans le dossier du capteur %1. Modifiez ses droits, ou indiquez dans data_dir de %2 un dossier où cet utilisateur peut écrire.</translation>
    </message>
    <message>
        <source>Could not create the data path %1</source>
        <translation>Impossible de créer le dossier de données %1</translation>
    </message>
    <message>
        <source>Could not save the sensor file: it has no name.</source>
        <translation>Impossible d&apos;enregistrer le fichier du capteur&#xa0;: il n&apos;a pas de nom.</translation>
    </message>
    <message>
        <source>Could not save the sensor file. Check the permissions on the directory for %1: %2</source>
        <translation>Impossible d&apos;enregistrer le fichier du capteur. Vérifiez les droits du dossier %1&#xa0;: %2</translation>
    </message>
    <message>
        <source>Could not load the public key %1: %2. The sensor file was not saved.</source>
        <translation>Impossible de charger la clé publique %1&#xa0;: %2. Le fichier du capteur n&apos;a pas été enregistré.</translation>
    </message>
    <message>
        <source>Could not encrypt the sensor file for the public key %1: %2. The sensor file was not saved.</source>
        <translation>Impossible de chiffrer le fichier du capteur pour la clé publique %1&#xa0;: %2. Le fichier du capteur n&apos;a pas été enregistré.</translation>
    </message>
    <message>
        <source>Could not save the sensor file %1: %2</source>
        <translation>Impossible d&apos;enregistrer le fichier du capteur %1&#xa0;: %2</translation>
    </message>
    <message>
        <source>Could not create the sensor path %1</source>
        <translation>Impossible de créer le dossier du capteur %1</translation>
    </message>
    <message>
        <source>Could not read file</source>
        <translation>Impossible de lire le fichier</translation>
    </message>
    <message>
        <source>Refused the sensor id %1: %2. Nothing was saved.</source>
        <translation>Identifiant de capteur %1 refusé&#xa0;: %2. Rien n&apos;a été enregistré.</translation>
    </message>
    <message>
        <source>Refused the file name %1: %2. Nothing was saved.</source>
        <translation>Nom de fichier %1 refusé&#xa0;: %2. Rien n&apos;a été enregistré.</translation>
    </message>
</context>
<context>
    <name>Page1Form.ui</name>
    <message>
        <source>Device Status:</source>
        <translation>État de l&apos;appareil&#xa0;:</translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation>Numéro de série du capteur&#xa0;:</translation>
    </message>
    <message>
        <source>Reader Serial Number:</source>
        <translation>Numéro de série du lecteur&#xa0;:</translation>
    </message>
    <message>
        <source>SW Version:</source>
        <translation>Logiciel&#xa0;:</translation>
    </message>
    <message>
        <source>Reader Date Time:</source>
        <translation>Horloge du lecteur&#xa0;:</translation>
    </message>
    <message>
        <source>© Norvane. For use with Lumora Kelo readers and their sensors only.</source>
        <extracomment>The maker&apos;s and the readers&apos; names stay as they are.</extracomment>
        <translation>© Norvane. À utiliser uniquement avec les lecteurs Lumora Kelo et leurs capteurs.</translation>
    </message>
    <message>
        <source>Software version: %1</source>
        <translation>Version du logiciel&#xa0;: %1</translation>
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
        <translation>Le lecteur ne répond pas. Débranchez-le, puis rebranchez-le.</translation>
    </message>
    <message>
        <source>No data to report from the Sensor.</source>
        <translation>Le capteur n&apos;a aucune donnée à transmettre.</translation>
    </message>
    <message>
        <source>The reader&apos;s data does not name the sensor. Nothing was saved.</source>
        <translation>Les données du lecteur n&apos;indiquent pas le capteur. Rien n&apos;a été enregistré.</translation>
    </message>
    <message>
        <source>The reader is connected.</source>
        <translation>Le lecteur est connecté.</translation>
    </message>
    <message>
        <source>The reader is disconnected.</source>
        <translation>Le lecteur est déconnecté.</translation>
    </message>
    <message>
        <source>Please Connect the Reader.</source>
        <translation>Veuillez connecter le lecteur.</translation>
    </message>
    <message>
        <source>Get Data</source>
        <translation>Récupérer les données</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progression</translation>
    </message>
    <message>
        <source>Downloading the reader&apos;s data...</source>
        <translation>Téléchargement des données du lecteur…</translation>
    </message>
    <message>
        <source>1 record</source>
        <translation>1 enregistrement</translation>
    </message>
    <message>
        <source>%1 records</source>
        <translation>%1 enregistrements</translation>
    </message>
    <message>
        <source>Ready To Transfer</source>
        <translation>Prêt pour le transfert</translation>
    </message>
    <message>
        <source>Copy path</source>
        <translation>Copier le chemin</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Ouvrir le dossier</translation>
    </message>
    <message>
        <source>&lt;device not connected&gt;</source>
        <translation>&lt;appareil non connecté&gt;</translation>
    </message>
    <message>
        <source>Device status: %1</source>
        <translation>État de l&apos;appareil&#xa0;: %1</translation>
    </message>
    <message>
        <source>Sensor serial number: %1</source>
        <translation>Numéro de série du capteur&#xa0;: %1</translation>
    </message>
    <message>
        <source>Reader serial number: %1</source>
        <translation>Numéro de série du lecteur&#xa0;: %1</translation>
    </message>
    <message>
        <source>Reader date and time: %1</source>
        <translation>Date et heure du lecteur&#xa0;: %1</translation>
    </message>
    <message>
        <source>Downloads the reader&apos;s records and saves them encrypted for the recipient.</source>
        <translation>Télécharge les enregistrements du lecteur et les enregistre chiffrés pour le destinataire.</translation>
    </message>
    <message>
        <source>A log for support is kept in %1.</source>
        <translation>Un journal pour l&apos;assistance est tenu dans %1.</translation>
    </message>
    <message>
        <source>Open log folder</source>
        <translation>Ouvrir le dossier du journal</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Progression du téléchargement</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Drag the file from here into another application.</source>
        <translation>Faites glisser le fichier d&apos;ici vers une autre application.</translation>
    </message>
    <message>
        <source>Saved file</source>
        <translation>Fichier enregistré</translation>
    </message>
    <message>
        <source>Drag the file where you need it</source>
        <translation>Faites glisser le fichier là où vous en avez besoin</translation>
    </message>
</context>
</TS>
