<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>Error</name>
    <message>
        <source>File not found</source>
        <translation>No se encontró el archivo</translation>
    </message>
    <message>
        <source>Path not found</source>
        <translation>No se encontró la ruta</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Permiso denegado</translation>
    </message>
    <message>
        <source>Path/File access error</source>
        <translation>Error de acceso a la ruta o al archivo</translation>
    </message>
    <message>
        <source>Disk full</source>
        <translation>Disco lleno</translation>
    </message>
    <message>
        <source>Out of memory</source>
        <translation>Memoria insuficiente</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>Desbordamiento</translation>
    </message>
    <message>
        <source>Invalid procedure call or argument</source>
        <translation>Llamada a procedimiento o argumento no válidos</translation>
    </message>
    <message>
        <source>Invalid picture</source>
        <translation>Imagen no válida</translation>
    </message>
    <message>
        <source>Cannot write the settings file</source>
        <translation>No se puede escribir el archivo de ajustes</translation>
    </message>
    <message>
        <source>Cannot create the folder of the settings file</source>
        <translation>No se puede crear la carpeta del archivo de ajustes</translation>
    </message>
    <message>
        <source>The converter could not be started</source>
        <translation>No se pudo iniciar el conversor</translation>
    </message>
    <message>
        <source>The converter wrote no PNG picture</source>
        <translation>El conversor no escribió ninguna imagen PNG</translation>
    </message>
    <message>
        <source>The file name is not valid UTF-8</source>
        <translation>El nombre de archivo no es UTF-8 válido</translation>
    </message>
    <message>
        <source>The converter did not write %1 from %2</source>
        <translation>El conversor no escribió %1 a partir de %2</translation>
    </message>
    <message>
        <source>ended by signal %1 (%2)</source>
        <translation>terminado por la señal %1 (%2)</translation>
    </message>
    <message>
        <source>not a PNG file</source>
        <translation>no es un archivo PNG</translation>
    </message>
    <message>
        <source>file ends early</source>
        <translation>el archivo termina antes de tiempo</translation>
    </message>
    <message>
        <source>unsupported pixel layout</source>
        <translation>disposición de píxeles no admitida</translation>
    </message>
    <message>
        <source>out of memory</source>
        <translation>memoria insuficiente</translation>
    </message>
    <message>
        <source>picture too large</source>
        <translation>imagen demasiado grande</translation>
    </message>
    <message>
        <source>ends early at byte %1</source>
        <translation>termina antes de tiempo en el byte %1</translation>
    </message>
    <message>
        <source>ends early</source>
        <translation>termina antes de tiempo</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>el archivo está vacío</translation>
    </message>
    <message>
        <source>not a JPEG file</source>
        <translation>no es un archivo JPEG</translation>
    </message>
    <message>
        <source>not a BMP file</source>
        <translation>no es un archivo BMP</translation>
    </message>
    <message>
        <source>not a BMP, JPEG or icon file</source>
        <translation>no es un archivo BMP, JPEG ni de icono</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>no es un archivo normal</translation>
    </message>
    <message>
        <source>no pixels</source>
        <translation>sin píxeles</translation>
    </message>
    <message>
        <source>more pixels than a picture may have</source>
        <translation>más píxeles de los que puede tener una imagen</translation>
    </message>
    <message>
        <source>more than %1 scans</source>
        <translation>más de %1 pasadas</translation>
    </message>
    <message>
        <source>unsupported colour space of %1 components</source>
        <translation>espacio de color de %1 componentes no admitido</translation>
    </message>
    <message>
        <source>an unsupported kind of header</source>
        <translation>un tipo de cabecera no admitido</translation>
    </message>
    <message>
        <source>an unsupported number of bits per pixel</source>
        <translation>un número de bits por píxel no admitido</translation>
    </message>
    <message>
        <source>Cannot save the image. GDI+ Error:%1</source>
        <translation>No se puede guardar la imagen. Error de GDI+:%1</translation>
    </message>
    <message>
        <source>The reading program handed back no picture (%1)</source>
        <translation>El programa de lectura no devolvió ninguna imagen (%1)</translation>
    </message>
    <message>
        <source>The WebP thumbnail could not be made (%1)</source>
        <translation>No se pudo crear la miniatura WebP (%1)</translation>
    </message>
    <message>
        <source>The TIFF thumbnail could not be made (%1%2)</source>
        <translation>No se pudo crear la miniatura TIFF (%1%2)</translation>
    </message>
    <message>
        <source>The GIF thumbnail could not be made (%1)</source>
        <translation>No se pudo crear la miniatura GIF (%1)</translation>
    </message>
</context>
<context>
    <name>Form1</name>
    <message>
        <source>Add File(s) - Hold Ctrl or Shift to select multiple files</source>
        <translation>Añadir archivo(s): mantenga Ctrl o Mayús para elegir varios archivos</translation>
    </message>
    <message>
        <source>All Pictures</source>
        <translation>Todas las imágenes</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>Todos los archivos</translation>
    </message>
    <message>
        <source>done</source>
        <translation>hecho</translation>
    </message>
    <message>
        <source>Go on with the remaining entries?</source>
        <translation>¿Continuar con las entradas restantes?</translation>
    </message>
    <message>
        <source>Drag and drop files here. Double-click item to remove it. Move bar to right and out of window to reveal full names.</source>
        <translation>Arrastre y suelte archivos aquí. Haga doble clic en una entrada para quitarla. Mueva la barra a la derecha, fuera de la ventana, para ver los nombres completos.</translation>
    </message>
    <message>
        <source>&amp;Percentage of Original:</source>
        <translation>&amp;Porcentaje del original:</translation>
    </message>
    <message>
        <source>Choose picture files to add to the list</source>
        <translation>Elegir imágenes para añadir a la lista</translation>
    </message>
    <message>
        <source>Write a reduced copy of every listed picture beside it, at the percentage chosen</source>
        <translation>Escribir junto a cada imagen de la lista una copia reducida al porcentaje elegido</translation>
    </message>
    <message>
        <source>Add the files of a folder and of every folder below it</source>
        <translation>Añadir los archivos de una carpeta y de todas sus subcarpetas</translation>
    </message>
    <message>
        <source>Image File(s)</source>
        <translation>Imágenes</translation>
    </message>
    <message>
        <source>The pictures to convert, in the order they are converted. Alt+Up and Alt+Down move the selected one, Delete removes it.</source>
        <translation>Las imágenes que convertir, en el orden de conversión. Alt+Arriba y Alt+Abajo mueven la seleccionada, Supr la quita.</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Progreso de la conversión</translation>
    </message>
    <message>
        <source>How much of the list has been converted</source>
        <translation>Cuánto de la lista se ha convertido</translation>
    </message>
    <message>
        <source>Percentage of Original</source>
        <translation>Porcentaje del original</translation>
    </message>
    <message>
        <source>%1% of the original size per side</source>
        <translation>%1 % del tamaño original por lado</translation>
    </message>
    <message>
        <source>%1% of the original size per side (%2)</source>
        <translation>%1 % del tamaño original por lado (%2)</translation>
    </message>
    <message>
        <source>&amp;Add Image File(s)</source>
        <translation>&amp;Añadir imágenes</translation>
    </message>
    <message>
        <source>&amp;Convert to Thumbnail</source>
        <translation>&amp;Convertir en miniatura</translation>
    </message>
    <message>
        <source>Add All File(s) In &amp;Folder</source>
        <translation>Añadir todo el contenido de una carpe&amp;ta</translation>
    </message>
    <message>
        <source>WebP, TIFF, GIF and Camera Raw Pictures</source>
        <translation>Imágenes WebP, TIFF, GIF y RAW de cámara</translation>
    </message>
</context>
<context>
    <name>ImageEntries</name>
    <message>
        <source>Image File(s)</source>
        <translation>Imágenes</translation>
    </message>
</context>
<context>
    <name>ImageListHandlers</name>
    <message>
        <source>Enter file extension to load:</source>
        <translation>Extensión de los archivos que cargar:</translation>
    </message>
    <message>
        <source>Please select folder to add:</source>
        <translation>Elija la carpeta que añadir:</translation>
    </message>
</context>
<context>
    <name>pictelle-batch</name>
    <message>
        <source>Try &apos;pictelle-batch --help&apos;.</source>
        <translation>Consulte &apos;pictelle-batch --help&apos;.</translation>
    </message>
    <message>
        <source>cannot read the list %1: %2</source>
        <translation>no se puede leer la lista %1: %2</translation>
    </message>
    <message>
        <source>the percentage must be a whole number from 1 to 100, not &apos;%1&apos;</source>
        <translation>el porcentaje debe ser un número entero de 1 a 100, no &apos;%1&apos;</translation>
    </message>
    <message>
        <source>the output folder %1 is not a folder</source>
        <translation>la carpeta de salida %1 no es una carpeta</translation>
    </message>
    <message>
        <source>%1 would be the thumbnail of each of: %2</source>
        <translation>%1 sería la miniatura de cada uno de: %2</translation>
    </message>
    <message>
        <source>files would share a thumbnail; nothing was converted</source>
        <translation>varios archivos compartirían una miniatura; no se convirtió nada</translation>
    </message>
    <message>
        <source>-0 applies to the names of --files-from</source>
        <translation>-0 se aplica a los nombres de --files-from</translation>
    </message>
    <message>
        <source>no files given</source>
        <translation>no se indicó ningún archivo</translation>
    </message>
    <message>
        <source>interrupted; the thumbnails written so far are kept</source>
        <translation>interrumpido; se conservan las miniaturas escritas hasta ahora</translation>
    </message>
</context>
</TS>
