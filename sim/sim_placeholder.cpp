// placeholder so the library has a source until the model lands
