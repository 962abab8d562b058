// placeholder: the subsystem's first source replaces this file
