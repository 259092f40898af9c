<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>Error</name>
    <message>
        <source>File not found</source>
        <translation>Fichier introuvable</translation>
    </message>
    <message>
        <source>Path not found</source>
        <translation>Chemin introuvable</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Permission refusée</translation>
    </message>
    <message>
        <source>Path/File access error</source>
        <translation>Erreur d&apos;accès au chemin ou au fichier</translation>
    </message>
    <message>
        <source>Disk full</source>
        <translation>Disque plein</translation>
    </message>
    <message>
        <source>Out of memory</source>
        <translation>Mémoire insuffisante</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>Dépassement de capacité</translation>
    </message>
    <message>
        <source>Invalid procedure call or argument</source>
        <translation>Appel de procédure ou argument incorrect</translation>
    </message>
    <message>
        <source>Invalid picture</source>
        <translation>Image non valide</translation>
    </message>
    <message>
        <source>Cannot write the settings file</source>
        <translation>Impossible d&apos;écrire le fichier de réglages</translation>
    </message>
    <message>
        <source>Cannot create the folder of the settings file</source>
        <translation>Impossible de créer le dossier du fichier de réglages</translation>
    </message>
    <message>
        <source>The converter could not be started</source>
        <translation>Le convertisseur n&apos;a pas pu être lancé</translation>
    </message>
    <message>
        <source>The converter wrote no PNG picture</source>
        <translation>Le convertisseur n&apos;a écrit aucune image PNG</translation>
    </message>
    <message>
        <source>The file name is not valid UTF-8</source>
        <translation>Le nom de fichier n&apos;est pas en UTF-8 valide</translation>
    </message>
    <message>
        <source>The converter did not write %1 from %2</source>
        <translation>Le convertisseur n&apos;a pas écrit %1 à partir de %2</translation>
    </message>
    <message>
        <source>ended by signal %1 (%2)</source>
        <translation>arrêté par le signal %1 (%2)</translation>
    </message>
    <message>
        <source>not a PNG file</source>
        <translation>pas un fichier PNG</translation>
    </message>
    <message>
        <source>file ends early</source>
        <translation>le fichier se termine trop tôt</translation>
    </message>
    <message>
        <source>unsupported pixel layout</source>
        <translation>disposition de pixels non prise en charge</translation>
    </message>
    <message>
        <source>out of memory</source>
        <translation>mémoire insuffisante</translation>
    </message>
    <message>
        <source>picture too large</source>
        <translation>image trop grande</translation>
    </message>
    <message>
        <source>ends early at byte %1</source>
        <translation>se termine prématurément à l&apos;octet %1</translation>
    </message>
    <message>
        <source>ends early</source>
        <translation>se termine prématurément</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>le fichier est vide</translation>
    </message>
    <message>
        <source>not a JPEG file</source>
        <translation>ce n&apos;est pas un fichier JPEG</translation>
    </message>
    <message>
        <source>not a BMP file</source>
        <translation>ce n&apos;est pas un fichier BMP</translation>
    </message>
    <message>
        <source>not a BMP, JPEG or icon file</source>
        <translation>ce n&apos;est pas un fichier BMP, JPEG ou icône</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>ce n&apos;est pas un fichier ordinaire</translation>
    </message>
    <message>
        <source>no pixels</source>
        <translation>aucun pixel</translation>
    </message>
    <message>
        <source>more pixels than a picture may have</source>
        <translation>plus de pixels qu&apos;une image ne peut en avoir</translation>
    </message>
    <message>
        <source>more than %1 scans</source>
        <translation>plus de %1 passes</translation>
    </message>
    <message>
        <source>unsupported colour space of %1 components</source>
        <translation>espace colorimétrique à %1 composantes non pris en charge</translation>
    </message>
    <message>
        <source>an unsupported kind of header</source>
        <translation>un type d&apos;en-tête non pris en charge</translation>
    </message>
    <message>
        <source>an unsupported number of bits per pixel</source>
        <translation>un nombre de bits par pixel non pris en charge</translation>
    </message>
    <message>
        <source>Cannot save the image. GDI+ Error:%1</source>
        <translation>Impossible d&apos;enregistrer l&apos;image. Erreur GDI+ :%1</translation>
    </message>
    <message>
        <source>The reading program handed back no picture (%1)</source>
        <translation>Le programme de lecture n'a rendu aucune image (%1)</translation>
    </message>
    <message>
        <source>The WebP thumbnail could not be made (%1)</source>
        <translation>La miniature WebP n'a pas pu être créée (%1)</translation>
    </message>
    <message>
        <source>The TIFF thumbnail could not be made (%1%2)</source>
        <translation>La miniature TIFF n'a pas pu être créée (%1%2)</translation>
    </message>
    <message>
        <source>The GIF thumbnail could not be made (%1)</source>
        <translation>La miniature GIF n'a pas pu être créée (%1)</translation>
    </message>
</context>
<context>
    <name>Form1</name>
    <message>
        <source>Add File(s) - Hold Ctrl or Shift to select multiple files</source>
        <translation>Ajouter des fichiers – maintenir Ctrl ou Maj pour en choisir plusieurs</translation>
    </message>
    <message>
        <source>All Pictures</source>
        <translation>Toutes les images</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>Tous les fichiers</translation>
    </message>
    <message>
        <source>done</source>
        <translation>terminé</translation>
    </message>
    <message>
        <source>Go on with the remaining entries?</source>
        <translation>Continuer avec les entrées restantes ?</translation>
    </message>
    <message>
        <source>Drag and drop files here. Double-click item to remove it. Move bar to right and out of window to reveal full names.</source>
        <translation>Déposez des fichiers ici. Un double-clic retire une entrée. Tirez la barre vers la droite hors de la fenêtre pour voir les noms complets.</translation>
    </message>
    <message>
        <source>&amp;Percentage of Original:</source>
        <translation>&amp;Pourcentage de l&apos;original :</translation>
    </message>
    <message>
        <source>Choose picture files to add to the list</source>
        <translation>Choisir des images à ajouter à la liste</translation>
    </message>
    <message>
        <source>Write a reduced copy of every listed picture beside it, at the percentage chosen</source>
        <translation>Écrire à côté de chaque image de la liste une copie réduite au pourcentage choisi</translation>
    </message>
    <message>
        <source>Add the files of a folder and of every folder below it</source>
        <translation>Ajouter les fichiers d&apos;un dossier et de tous ses sous-dossiers</translation>
    </message>
    <message>
        <source>Image File(s)</source>
        <translation>Images</translation>
    </message>
    <message>
        <source>The pictures to convert, in the order they are converted. Alt+Up and Alt+Down move the selected one, Delete removes it.</source>
        <translation>Les images à convertir, dans l&apos;ordre de conversion. Alt+Haut et Alt+Bas déplacent l&apos;image choisie, Suppr la retire.</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Progression de la conversion</translation>
    </message>
    <message>
        <source>How much of the list has been converted</source>
        <translation>Part de la liste déjà convertie</translation>
    </message>
    <message>
        <source>Percentage of Original</source>
        <translation>Pourcentage de l&apos;original</translation>
    </message>
    <message>
        <source>%1% of the original size per side</source>
        <translation>%1 % de la taille d&apos;origine par côté</translation>
    </message>
    <message>
        <source>%1% of the original size per side (%2)</source>
        <translation>%1 % de la taille d&apos;origine par côté (%2)</translation>
    </message>
    <message>
        <source>&amp;Add Image File(s)</source>
        <translation>&amp;Ajouter des images</translation>
    </message>
    <message>
        <source>&amp;Convert to Thumbnail</source>
        <translation>&amp;Convertir en miniature</translation>
    </message>
    <message>
        <source>Add All File(s) In &amp;Folder</source>
        <translation>Ajouter tout un &amp;dossier</translation>
    </message>
    <message>
        <source>WebP, TIFF, GIF and Camera Raw Pictures</source>
        <translation>Images WebP, TIFF, GIF et RAW d’appareil photo</translation>
    </message>
</context>
<context>
    <name>ImageEntries</name>
    <message>
        <source>Image File(s)</source>
        <translation>Images</translation>
    </message>
</context>
<context>
    <name>ImageListHandlers</name>
    <message>
        <source>Enter file extension to load:</source>
        <translation>Extension des fichiers à charger :</translation>
    </message>
    <message>
        <source>Please select folder to add:</source>
        <translation>Choisissez le dossier à ajouter :</translation>
    </message>
</context>
<context>
    <name>pictelle-batch</name>
    <message>
        <source>Try &apos;pictelle-batch --help&apos;.</source>
        <translation>Voir &apos;pictelle-batch --help&apos;.</translation>
    </message>
    <message>
        <source>cannot read the list %1: %2</source>
        <translation>impossible de lire la liste %1 : %2</translation>
    </message>
    <message>
        <source>the percentage must be a whole number from 1 to 100, not &apos;%1&apos;</source>
        <translation>le pourcentage doit être un nombre entier de 1 à 100, pas &apos;%1&apos;</translation>
    </message>
    <message>
        <source>the output folder %1 is not a folder</source>
        <translation>le dossier de sortie %1 n&apos;est pas un dossier</translation>
    </message>
    <message>
        <source>%1 would be the thumbnail of each of: %2</source>
        <translation>%1 serait la miniature de chacun de ces fichiers : %2</translation>
    </message>
    <message>
        <source>files would share a thumbnail; nothing was converted</source>
        <translation>des fichiers partageraient une miniature ; rien n&apos;a été converti</translation>
    </message>
    <message>
        <source>-0 applies to the names of --files-from</source>
        <translation>-0 s&apos;applique aux noms de --files-from</translation>
    </message>
    <message>
        <source>no files given</source>
        <translation>aucun fichier donné</translation>
    </message>
    <message>
        <source>interrupted; the thumbnails written so far are kept</source>
        <translation>interrompu ; les miniatures déjà écrites sont conservées</translation>
    </message>
</context>
</TS>
