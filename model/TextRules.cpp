// placeholder until the text rules land
