// Stands for a header of the analysis folder.
