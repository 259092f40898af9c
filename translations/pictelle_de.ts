<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Error</name>
    <message>
        <source>File not found</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>Path not found</source>
        <translation>Pfad nicht gefunden</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>Path/File access error</source>
        <translation>Fehler beim Zugriff auf Pfad/Datei</translation>
    </message>
    <message>
        <source>Disk full</source>
        <translation>Datenträger voll</translation>
    </message>
    <message>
        <source>Out of memory</source>
        <translation>Nicht genügend Speicher</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>Überlauf</translation>
    </message>
    <message>
        <source>Invalid procedure call or argument</source>
        <translation>Ungültiger Prozeduraufruf oder ungültiges Argument</translation>
    </message>
    <message>
        <source>Invalid picture</source>
        <translation>Ungültiges Bild</translation>
    </message>
    <message>
        <source>Cannot write the settings file</source>
        <translation>Die Einstellungsdatei kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Cannot create the folder of the settings file</source>
        <translation>Der Ordner der Einstellungsdatei kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>The converter could not be started</source>
        <translation>Der Konverter konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>The converter wrote no PNG picture</source>
        <translation>Der Konverter hat kein PNG-Bild geschrieben</translation>
    </message>
    <message>
        <source>The file name is not valid UTF-8</source>
        <translation>Der Dateiname ist kein gültiges UTF-8</translation>
    </message>
    <message>
        <source>The converter did not write %1 from %2</source>
        <translation>Der Konverter hat %1 nicht aus %2 geschrieben</translation>
    </message>
    <message>
        <source>ended by signal %1 (%2)</source>
        <translation>durch Signal %1 beendet (%2)</translation>
    </message>
    <message>
        <source>not a PNG file</source>
        <translation>keine PNG-Datei</translation>
    </message>
    <message>
        <source>file ends early</source>
        <translation>Datei endet vorzeitig</translation>
    </message>
    <message>
        <source>unsupported pixel layout</source>
        <translation>nicht unterstütztes Pixelformat</translation>
    </message>
    <message>
        <source>out of memory</source>
        <translation>nicht genügend Speicher</translation>
    </message>
    <message>
        <source>picture too large</source>
        <translation>Bild zu groß</translation>
    </message>
    <message>
        <source>ends early at byte %1</source>
        <translation>endet vorzeitig bei Byte %1</translation>
    </message>
    <message>
        <source>ends early</source>
        <translation>endet vorzeitig</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>die Datei ist leer</translation>
    </message>
    <message>
        <source>not a JPEG file</source>
        <translation>keine JPEG-Datei</translation>
    </message>
    <message>
        <source>not a BMP file</source>
        <translation>keine BMP-Datei</translation>
    </message>
    <message>
        <source>not a BMP, JPEG or icon file</source>
        <translation>keine BMP-, JPEG- oder Symboldatei</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>no pixels</source>
        <translation>keine Pixel</translation>
    </message>
    <message>
        <source>more pixels than a picture may have</source>
        <translation>mehr Pixel, als ein Bild haben darf</translation>
    </message>
    <message>
        <source>more than %1 scans</source>
        <translation>mehr als %1 Scans</translation>
    </message>
    <message>
        <source>unsupported colour space of %1 components</source>
        <translation>nicht unterstützter Farbraum mit %1 Komponenten</translation>
    </message>
    <message>
        <source>an unsupported kind of header</source>
        <translation>eine nicht unterstützte Art von Kopfdaten</translation>
    </message>
    <message>
        <source>an unsupported number of bits per pixel</source>
        <translation>eine nicht unterstützte Anzahl Bits pro Pixel</translation>
    </message>
    <message>
        <source>Cannot save the image. GDI+ Error:%1</source>
        <translation>Das Bild kann nicht gespeichert werden. GDI+-Fehler:%1</translation>
    </message>
    <message>
        <source>The reading program handed back no picture (%1)</source>
        <translation>Das Leseprogramm hat kein Bild zurückgegeben (%1)</translation>
    </message>
    <message>
        <source>The WebP thumbnail could not be made (%1)</source>
        <translation>Das WebP-Vorschaubild konnte nicht erstellt werden (%1)</translation>
    </message>
    <message>
        <source>The TIFF thumbnail could not be made (%1%2)</source>
        <translation>Das TIFF-Vorschaubild konnte nicht erstellt werden (%1%2)</translation>
    </message>
    <message>
        <source>The GIF thumbnail could not be made (%1)</source>
        <translation>Das GIF-Vorschaubild konnte nicht erstellt werden (%1)</translation>
    </message>
</context>
<context>
    <name>Form1</name>
    <message>
        <source>Add File(s) - Hold Ctrl or Shift to select multiple files</source>
        <translation>Datei(en) hinzufügen – Strg oder Umschalt halten, um mehrere Dateien zu wählen</translation>
    </message>
    <message>
        <source>All Pictures</source>
        <translation>Alle Bilder</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>done</source>
        <translation>fertig</translation>
    </message>
    <message>
        <source>Go on with the remaining entries?</source>
        <translation>Mit den übrigen Einträgen fortfahren?</translation>
    </message>
    <message>
        <source>Drag and drop files here. Double-click item to remove it. Move bar to right and out of window to reveal full names.</source>
        <translation>Dateien hierher ziehen. Doppelklick auf einen Eintrag entfernt ihn. Den Balken nach rechts aus dem Fenster ziehen, um die vollen Namen zu sehen.</translation>
    </message>
    <message>
        <source>&amp;Percentage of Original:</source>
        <translation>&amp;Prozent des Originals:</translation>
    </message>
    <message>
        <source>Choose picture files to add to the list</source>
        <translation>Bilddateien für die Liste auswählen</translation>
    </message>
    <message>
        <source>Write a reduced copy of every listed picture beside it, at the percentage chosen</source>
        <translation>Von jedem Bild der Liste eine verkleinerte Kopie daneben schreiben, in der gewählten Prozentgröße</translation>
    </message>
    <message>
        <source>Add the files of a folder and of every folder below it</source>
        <translation>Die Dateien eines Ordners und aller Unterordner hinzufügen</translation>
    </message>
    <message>
        <source>Image File(s)</source>
        <translation>Bilddatei(en)</translation>
    </message>
    <message>
        <source>The pictures to convert, in the order they are converted. Alt+Up and Alt+Down move the selected one, Delete removes it.</source>
        <translation>Die umzuwandelnden Bilder in der Reihenfolge der Umwandlung. Alt+Hoch und Alt+Runter verschieben das gewählte, Entf entfernt es.</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Fortschritt der Umwandlung</translation>
    </message>
    <message>
        <source>How much of the list has been converted</source>
        <translation>Wie viel der Liste schon umgewandelt ist</translation>
    </message>
    <message>
        <source>Percentage of Original</source>
        <translation>Prozent des Originals</translation>
    </message>
    <message>
        <source>%1% of the original size per side</source>
        <translation>%1 % der Originalgröße je Seite</translation>
    </message>
    <message>
        <source>%1% of the original size per side (%2)</source>
        <translation>%1 % der Originalgröße je Seite (%2)</translation>
    </message>
    <message>
        <source>&amp;Add Image File(s)</source>
        <translation>&amp;Bilddatei(en) hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Convert to Thumbnail</source>
        <translation>In Miniatur &amp;umwandeln</translation>
    </message>
    <message>
        <source>Add All File(s) In &amp;Folder</source>
        <translation>Alle Dateien im &amp;Ordner hinzufügen</translation>
    </message>
    <message>
        <source>WebP, TIFF, GIF and Camera Raw Pictures</source>
        <translation>WebP-, TIFF-, GIF- und Kamera-Rohbilder</translation>
    </message>
</context>
<context>
    <name>ImageEntries</name>
    <message>
        <source>Image File(s)</source>
        <translation>Bilddatei(en)</translation>
    </message>
</context>
<context>
    <name>ImageListHandlers</name>
    <message>
        <source>Enter file extension to load:</source>
        <translation>Dateiendung zum Laden eingeben:</translation>
    </message>
    <message>
        <source>Please select folder to add:</source>
        <translation>Bitte den hinzuzufügenden Ordner wählen:</translation>
    </message>
</context>
<context>
    <name>pictelle-batch</name>
    <message>
        <source>Try &apos;pictelle-batch --help&apos;.</source>
        <translation>Siehe &apos;pictelle-batch --help&apos;.</translation>
    </message>
    <message>
        <source>cannot read the list %1: %2</source>
        <translation>die Liste %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>the percentage must be a whole number from 1 to 100, not &apos;%1&apos;</source>
        <translation>der Prozentwert muss eine ganze Zahl von 1 bis 100 sein, nicht &apos;%1&apos;</translation>
    </message>
    <message>
        <source>the output folder %1 is not a folder</source>
        <translation>der Ausgabeordner %1 ist kein Ordner</translation>
    </message>
    <message>
        <source>%1 would be the thumbnail of each of: %2</source>
        <translation>%1 wäre die Miniatur von jeder dieser Dateien: %2</translation>
    </message>
    <message>
        <source>files would share a thumbnail; nothing was converted</source>
        <translation>Dateien würden sich eine Miniatur teilen; nichts wurde umgewandelt</translation>
    </message>
    <message>
        <source>-0 applies to the names of --files-from</source>
        <translation>-0 gilt für die Namen von --files-from</translation>
    </message>
    <message>
        <source>no files given</source>
        <translation>keine Dateien angegeben</translation>
    </message>
    <message>
        <source>interrupted; the thumbnails written so far are kept</source>
        <translation>unterbrochen; die bisher geschriebenen Miniaturen bleiben erhalten</translation>
    </message>
</context>
</TS>
