; settings
Recurse yes
Nested no
KeepTime Yes
@define ROOT /srv/arc
Archives ROOT/archivers.ini
AddFile readme.txt ; add
DeleteFile *.bak
Scan vscan @Folder
FileList files.bbs
bad line
@Define X 1
@Define X 2
Scan "  quoted  "
