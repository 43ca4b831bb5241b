<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>Cipher</name>
    <message>
        <source>it is not a regular file</source>
        <translation>no es un archivo normal</translation>
    </message>
    <message>
        <source>it is larger than 1 MiB</source>
        <translation>ocupa más de 1 MiB</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>el archivo está vacío</translation>
    </message>
    <message>
        <source>it holds no PEM public key</source>
        <translation>no contiene ninguna clave pública PEM</translation>
    </message>
    <message>
        <source>it is not an RSA key</source>
        <translation>no es una clave RSA</translation>
    </message>
</context>
<context>
    <name>DeviceClient</name>
    <message>
        <source>a reader is plugged in at %1 but this user may not open it: install the udev rule (see README) and plug it in again</source>
        <translation>hay un lector conectado en %1, pero este usuario no tiene permiso para abrirlo: instale la regla udev (consulte el README) y vuelva a conectarlo</translation>
    </message>
</context>
<context>
    <name>DownloadSession</name>
    <message>
        <source>The download holds no sensor id (text member &quot;90&quot; of its first record); nothing was saved.</source>
        <translation>La descarga no contiene ningún identificador de sensor (campo de texto «90» de su primer registro); no se ha guardado nada.</translation>
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
        <translation>%1 días</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 behind this computer&apos;s.</source>
        <translation>El reloj del lector va %1 por detrás del de este ordenador.</translation>
    </message>
    <message>
        <source>The reader&apos;s clock is %1 ahead of this computer&apos;s.</source>
        <translation>El reloj del lector va %1 por delante del de este ordenador.</translation>
    </message>
</context>
<context>
    <name>DownloadWorker</name>
    <message>
        <source>The reader was disconnected before the download finished. Nothing was saved.</source>
        <translation>El lector se desconectó antes de que terminara la descarga. No se ha guardado nada.</translation>
    </message>
</context>
<context>
    <name>FileUtil</name>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;;&apos; for the start of a comment and &apos;&quot;&apos; for a quote. Put the whole value in double quotes.</source>
        <translation>El archivo de configuración %1 se lee mal en %2: en este formato, &apos;;&apos; inicia un comentario y &apos;&quot;&apos; una cita. Ponga todo el valor entre comillas dobles.</translation>
    </message>
    <message>
        <source>The settings file %1 is read wrongly at %2: this file format takes &apos;\&apos; for the start of an escape. Write paths with &apos;/&apos;.</source>
        <translation>El archivo de configuración %1 se lee mal en %2: en este formato, &apos;\&apos; inicia una secuencia de escape. Escriba las rutas con &apos;/&apos;.</translation>
    </message>
    <message>
        <source>it is empty</source>
        <translation>está vacío</translation>
    </message>
    <message>
        <source>it begins or ends with white space</source>
        <translation>empieza o termina con un espacio en blanco</translation>
    </message>
    <message>
        <source>it is made of dots only</source>
        <translation>solo contiene puntos</translation>
    </message>
    <message>
        <source>it ends with a dot</source>
        <translation>termina en punto</translation>
    </message>
    <message>
        <source>it names a device on Windows</source>
        <translation>designa un dispositivo en Windows</translation>
    </message>
    <message>
        <source>it contains a path separator</source>
        <translation>contiene un separador de ruta</translation>
    </message>
    <message>
        <source>it contains a control character</source>
        <translation>contiene un carácter de control</translation>
    </message>
    <message>
        <source>it contains %1, which file names may not hold</source>
        <translation>contiene %1, que no puede aparecer en nombres de archivo</translation>
    </message>
    <message>
        <source>it is longer than %1 bytes</source>
        <translation>ocupa más de %1 bytes</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read (%2). Let this user read it, or remove it to use the defaults.</source>
        <translation>No se puede leer el archivo de configuración %1 (%2). Permita que este usuario lo lea o elimínelo para usar los valores predeterminados.</translation>
    </message>
    <message>
        <source>The settings file %1 is not a valid INI file. Correct it, or remove it to use the defaults.</source>
        <translation>El archivo de configuración %1 no es un archivo INI válido. Corríjalo o elimínelo para usar los valores predeterminados.</translation>
    </message>
    <message>
        <source>The settings file %1 holds neither data_dir nor public_key_file under [General]. Put them under [General], or remove the file to use the defaults.</source>
        <translation>El archivo de configuración %1 no contiene data_dir ni public_key_file en [General]. Póngalos en [General] o elimine el archivo para usar los valores predeterminados.</translation>
    </message>
    <message>
        <source>The public key %1 cannot be used: %2. Set public_key_file in %3 to the recipient&apos;s PEM public key.</source>
        <translation>No se puede usar la clave pública %1: %2. Indique en public_key_file de %3 la clave pública PEM del destinatario.</translation>
    </message>
    <message>
        <source>The data folder %1 does not exist. Create it, or set data_dir in %2 to a folder that exists.</source>
        <translation>La carpeta de datos %1 no existe. Créela o indique en data_dir de %2 una carpeta que exista.</translation>
    </message>
    <message>
        <source>This user may not write to the data folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Este usuario no tiene permiso para escribir en la carpeta de datos %1. Cambie sus permisos o indique en data_dir de %2 una carpeta en la que este usuario pueda escribir.</translation>
    </message>
    <message>
        <source>This user may not write to the sensor folder %1. Change its permissions, or set data_dir in %2 to a folder this user may write to.</source>
        <translation>Este usuario no tiene permiso para escribir en la carpeta del sensor %1. Cambie sus permisos o indique en data_dir de %2 una carpeta en la que este usuario pueda escribir.</translation>
    </message>
    <message>
        <source>Could not create the data path %1</source>
        <translation>No se pudo crear la carpeta de datos %1</translation>
    </message>
    <message>
        <source>Could not save the sensor file: it has no name.</source>
        <translation>No se pudo guardar el archivo del sensor: no tiene nombre.</translation>
    </message>
    <message>
        <source>Could not save the sensor file. Check the permissions on the directory for %1: %2</source>
        <translation>No se pudo guardar el archivo del sensor. Compruebe los permisos de la carpeta %1: %2</translation>
    </message>
    <message>
        <source>Could not load the public key %1: %2. The sensor file was not saved.</source>
        <translation>No se pudo cargar la clave pública %1: %2. El archivo del sensor no se ha guardado.</translation>
    </message>
    <message>
        <source>Could not encrypt the sensor file for the public key %1: %2. The sensor file was not saved.</source>
        <translation>No se pudo cifrar el archivo del sensor para la clave pública %1: %2. El archivo del sensor no se ha guardado.</translation>
    </message>
    <message>
        <source>Could not save the sensor file %1: %2</source>
        <translation>No se pudo guardar el archivo del sensor %1: %2</translation>
    </message>
    <message>
        <source>Could not create the sensor path %1</source>
        <translation>No se pudo crear la carpeta del sensor %1</translation>
    </message>
    <message>
        <source>Could not read file</source>
        <translation>No se pudo leer el archivo</translation>
    </message>
    <message>
        <source>Refused the sensor id %1: %2. Nothing was saved.</source>
        <translation>Identificador de sensor %1 rechazado: %2. No se ha guardado nada.</translation>
    </message>
    <message>
        <source>Refused the file name %1: %2. Nothing was saved.</source>
        <translation>Nombre de archivo %1 rechazado: %2. No se ha guardado nada.</translation>
    </message>
</context>
<context>
    <name>Page1Form.ui</name>
    <message>
        <source>Device Status:</source>
        <translation>Estado del dispositivo:</translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation>Número de serie del sensor:</translation>
    </message>
    <message>
        <source>Reader Serial Number:</source>
        <translation>Número de serie del lector:</translation>
    </message>
    <message>
        <source>SW Version:</source>
        <translation>Versión de SW:</translation>
    </message>
    <message>
        <source>Reader Date Time:</source>
        <translation>Reloj del lector:</translation>
    </message>
    <message>
        <source>© Norvane. For use with Lumora Kelo readers and their sensors only.</source>
        <extracomment>The maker&apos;s and the readers&apos; names stay as they are.</extracomment>
        <translation>© Norvane. Solo para uso con lectores Lumora Kelo y sus sensores.</translation>
    </message>
    <message>
        <source>Software version: %1</source>
        <translation>Versión del software: %1</translation>
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
        <translation>El lector no responde. Desconéctelo y vuelva a conectarlo.</translation>
    </message>
    <message>
        <source>No data to report from the Sensor.</source>
        <translation>El sensor no tiene datos que transferir.</translation>
    </message>
    <message>
        <source>The reader&apos;s data does not name the sensor. Nothing was saved.</source>
        <translation>Los datos del lector no indican el sensor. No se ha guardado nada.</translation>
    </message>
    <message>
        <source>The reader is connected.</source>
        <translation>El lector está conectado.</translation>
    </message>
    <message>
        <source>The reader is disconnected.</source>
        <translation>El lector está desconectado.</translation>
    </message>
    <message>
        <source>Please Connect the Reader.</source>
        <translation>Conecte el lector.</translation>
    </message>
    <message>
        <source>Get Data</source>
        <translation>Obtener datos</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progreso</translation>
    </message>
    <message>
        <source>Downloading the reader&apos;s data...</source>
        <translation>Descargando los datos del lector…</translation>
    </message>
    <message>
        <source>1 record</source>
        <translation>1 registro</translation>
    </message>
    <message>
        <source>%1 records</source>
        <translation>%1 registros</translation>
    </message>
    <message>
        <source>Ready To Transfer</source>
        <translation>Listo para transferir</translation>
    </message>
    <message>
        <source>Copy path</source>
        <translation>Copiar ruta</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Abrir carpeta</translation>
    </message>
    <message>
        <source>&lt;device not connected&gt;</source>
        <translation>&lt;dispositivo no conectado&gt;</translation>
    </message>
    <message>
        <source>Device status: %1</source>
        <translation>Estado del dispositivo: %1</translation>
    </message>
    <message>
        <source>Sensor serial number: %1</source>
        <translation>Número de serie del sensor: %1</translation>
    </message>
    <message>
        <source>Reader serial number: %1</source>
        <translation>Número de serie del lector: %1</translation>
    </message>
    <message>
        <source>Reader date and time: %1</source>
        <translation>Fecha y hora del lector: %1</translation>
    </message>
    <message>
        <source>Downloads the reader&apos;s records and saves them encrypted for the recipient.</source>
        <translation>Descarga los registros del lector y los guarda cifrados para el destinatario.</translation>
    </message>
    <message>
        <source>A log for support is kept in %1.</source>
        <translation>Se guarda un archivo de diagnóstico para el servicio técnico en %1.</translation>
    </message>
    <message>
        <source>Open log folder</source>
        <translation>Abrir la carpeta de diagnóstico</translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation>Progreso de la descarga</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Drag the file from here into another application.</source>
        <translation>Arrastre el archivo desde aquí a otra aplicación.</translation>
    </message>
    <message>
        <source>Saved file</source>
        <translation>Archivo guardado</translation>
    </message>
    <message>
        <source>Drag the file where you need it</source>
        <translation>Arrastre el archivo adonde lo necesite</translation>
    </message>
</context>
</TS>
